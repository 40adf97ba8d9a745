#pragma once

#include "Clock.h"
#include "Options.h"

namespace rv7k {

// A station's fixture: units arrive one after another, each answers while
// it is there and leaves once it has been left alone for a while (polls do
// not count: a station keeps polling a unit until it is taken out).
class Units {
public:
    enum class Change { None, Arrive, Leave };

    Units(const Options& options, Instant start);

    bool playing() const { return m_count > 0; }
    // The unit in the fixture, 0 while it is empty.
    long present() const { return m_present ? m_unit : 0; }
    // The unit that came last, there or gone.
    long last() const { return m_unit; }
    // A frame other than a poll keeps the unit there a while longer.
    void activity(Instant t)
    {
        if (m_leaveAfterReleases == 0)
            m_lastActivity = t;
    }
    // A release frame reached the unit.
    void released(Instant t)
    {
        if (m_leaveAfterReleases > 0 && ++m_releases == m_leaveAfterReleases)
            m_lastActivity = t;
    }
    // The unit is taken out now.
    void pull() { m_pulled = m_present; }
    // What happens at t, if anything; each change is handed out once.
    Change take(Instant t);
    // When the next change is due; -1 when none is to come.
    Instant nextChange() const;

private:
    long m_count;
    Instant m_present_for;
    Instant m_absent_for;
    long m_unit = 0;
    bool m_present = false;
    Instant m_arriveAt;
    Instant m_lastActivity = 0;
    bool m_pulled = false;
    long m_leaveAfterReleases;
    long m_releases = 0;
};

} // namespace rv7k
