#include "PresenceRule.h"

#include <algorithm>

PresenceRule::PresenceRule(bool presenceLine, PresenceNumbers numbers) : presenceLine_(presenceLine), n_(numbers) {}

void PresenceRule::waitAgain()
{
    phase_ = Phase::Waiting;
    answers_ = 0;
    unanswered_ = 0;
    wrongSince_ = -1;
    slowest_ = 0;
}

PresenceRule::Verdict PresenceRule::polled(double at, const Sighting& seen)
{
    if (phase_ == Phase::Staying) {
        // Any answer, even a wrong one, means the unit is still there; one
        // lost reply does not make it another unit.
        if (presenceLine_)
            return Verdict::None;
        unanswered_ = seen.someone() ? 0 : unanswered_ + 1;
        if (unanswered_ < n_.goneAfter)
            return Verdict::None;
        waitAgain();
        return Verdict::Gone;
    }
    if (phase_ != Phase::Waiting)
        return Verdict::None;
    switch (seen.kind) {
    case Sighting::Kind::Answered:
        wrongSince_ = -1;
        slowest_ = std::max(slowest_, seen.latency);
        // A presence line already vouches for the unit: one answer tells it listens.
        if (++answers_ >= (presenceLine_ ? 1 : n_.placedAfter))
            return Verdict::Placed;
        return Verdict::None;
    case Sighting::Kind::WrongAnswer:
        answers_ = 0;
        if (wrongSince_ < 0)
            wrongSince_ = at;
        else if (at - wrongSince_ >= n_.wrongFor)
            return Verdict::Wrong;
        return Verdict::None;
    case Sighting::Kind::Silent:
        answers_ = 0;
        wrongSince_ = -1;
        if (presenceLine_ && upSince_ >= 0 && at - upSince_ >= n_.silentFor)
            return Verdict::Silent;
        return Verdict::None;
    }
    return Verdict::None;
}

PresenceRule::Verdict PresenceRule::lineRead(double at, bool asserted)
{
    if (asserted) {
        downSince_ = -1;
        if (upSince_ < 0)
            upSince_ = at;
        return Verdict::None;
    }
    if (downSince_ < 0)
        downSince_ = at;
    // A dropout shorter than the debounce is no change at all.
    if (at - downSince_ < n_.debounce)
        return Verdict::None;
    upSince_ = -1;
    answers_ = 0;
    wrongSince_ = -1;
    if (phase_ == Phase::Staying) {
        waitAgain();
        return Verdict::Gone;
    }
    return Verdict::None;
}

bool PresenceRule::lineSteady(double at) const
{
    return upSince_ >= 0 && at - upSince_ >= n_.debounce;
}

double PresenceRule::pollEvery() const
{
    return phase_ == Phase::Staying ? n_.pollEveryStaying : n_.pollEveryEmpty;
}

double PresenceRule::pollWait() const
{
    // An empty fixture waits the poll's whole second; a unit that stays is
    // waited for by how fast it answered, so that it is seen gone soon.
    if (phase_ != Phase::Staying)
        return n_.longestPollWait;
    return std::clamp(n_.pollWaitFactor * slowest_, n_.shortestPollWait, n_.longestPollWait);
}

void PresenceRule::loadBegins(double at)
{
    phase_ = Phase::Loading;
    lastTick_ = at;
}

std::optional<double> PresenceRule::stalled(double at)
{
    if (phase_ != Phase::Loading)
        return std::nullopt;
    const double gap = at - lastTick_;
    lastTick_ = at;
    if (gap > n_.stallAfter)
        return gap;
    return std::nullopt;
}

bool PresenceRule::takenOut(double at, bool asserted)
{
    if (asserted) {
        downSince_ = -1;
        return false;
    }
    if (downSince_ < 0)
        downSince_ = at;
    return at - downSince_ >= n_.debounce;
}

void PresenceRule::answered(double latency)
{
    slowest_ = std::max(slowest_, latency);
}

void PresenceRule::loadEnded(double, bool doubt, bool lineUp)
{
    if (doubt && !(presenceLine_ && lineUp)) {
        waitAgain();
        return;
    }
    phase_ = Phase::Staying;
    unanswered_ = 0;
}

void PresenceRule::recordedWithoutLoad()
{
    phase_ = Phase::Staying;
    unanswered_ = 0;
}

void PresenceRule::lineLost()
{
    waitAgain();
    upSince_ = -1;
    downSince_ = -1;
}
