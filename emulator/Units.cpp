#include "Units.h"

#include <algorithm>
#include <cmath>

namespace rv7k {

namespace {
Instant nanoseconds(double seconds)
{
    return std::llround(seconds * 1e9);
}
} // namespace

Units::Units(const Options& options, Instant start)
    : m_count(options.units)
    , m_present_for(nanoseconds(options.present))
    , m_absent_for(nanoseconds(options.absent))
    , m_arriveAt(start + nanoseconds(options.firstAfter))
    , m_leaveAfterReleases(options.leaveAfterReleases)
{
}

Instant Units::nextChange() const
{
    if (!playing())
        return -1;
    if (m_present && m_pulled)
        return 0;
    // Waiting for its releases, it stays.
    if (m_present && !m_pulled && m_leaveAfterReleases > 0 && m_releases < m_leaveAfterReleases)
        return -1;
    if (m_present)
        return std::max(m_arriveAt, m_lastActivity) + m_present_for;
    return m_unit < m_count ? m_arriveAt : -1;
}

Units::Change Units::take(Instant t)
{
    const Instant due = nextChange();
    if (due < 0 || t < due)
        return Change::None;
    if (m_present) {
        m_present = false;
        m_pulled = false;
        m_arriveAt = t + m_absent_for;
        return Change::Leave;
    }
    ++m_unit;
    m_present = true;
    m_arriveAt = t;
    m_lastActivity = t;
    m_releases = 0;
    return Change::Arrive;
}

} // namespace rv7k
