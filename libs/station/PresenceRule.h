#pragma once
// Who is in the fixture, told from what a plain line or a presence line lets
// us see: polls answered or not, a modem status line up or down, and the
// station's own clock. One rule for the whole life of a fixture: waiting for
// a unit, loading it, and waiting until it is gone. It never touches the line
// or the clock itself: a sighting and a time go in, a verdict comes out, so
// every rule is testable in milliseconds of virtual time.
//
// Doubt is never credited: a load the station cannot vouch for ends, and
// whatever answers next is another unit.

#include <QString>
#include <optional>

// What one look at the fixture saw.
struct Sighting {
    enum class Kind { Answered, WrongAnswer, Silent };
    Kind kind = Kind::Silent;
    QString reply;        // what came back, for a wrong answer
    double latency = 0;   // seconds from the poll to its first byte, when answered

    bool someone() const { return kind != Kind::Silent; }
};

struct PresenceNumbers {
    int placedAfter = 2;        // a plain line: answers in a row before a unit counts as placed
    int goneAfter = 2;          // unanswered polls in a row before a unit that stayed counts as gone
    double wrongFor = 3.0;      // a unit answering the poll wrongly this long is recorded once
    double silentFor = 3.0;     // a presence line up this long without an answer: recorded once
    double debounce = 0.1;      // a presence line's change counts once it lasted this long
    double stallAfter = 0.5;    // a gap in the station's clock during a load longer than this is doubt
    double pollEveryEmpty = 0.25;   // an empty fixture is polled this often
    double pollEveryStaying = 0.15; // a unit that stays is polled this often
    // How long an unanswered poll of a unit that stays is waited for: this
    // many times the slowest answer it gave, within these bounds.
    double pollWaitFactor = 3.0;
    double shortestPollWait = 0.25, longestPollWait = 1.0;
};

class PresenceRule {
public:
    enum class Phase { Waiting, Loading, Staying };
    enum class Verdict {
        None,
        Placed,  // a unit to load
        Wrong,   // a unit that answers the poll wrongly: record it once, do not load it
        Silent,  // a presence line up for long with no answer: record it once, do not load it
        Gone,    // the unit that stayed was taken out
    };

    explicit PresenceRule(bool presenceLine, PresenceNumbers numbers = {});

    Phase phase() const { return phase_; }
    const PresenceNumbers& numbers() const { return n_; }

    // A poll's outcome at `at`; between loads.
    Verdict polled(double at, const Sighting& seen);
    // A presence line read at `at`; between loads.
    Verdict lineRead(double at, bool asserted);
    // A presence line that has been up for its debounce: the unit may be polled.
    bool lineSteady(double at) const;

    // How often to poll, and how long to wait for an answer, now.
    double pollEvery() const;
    double pollWait() const;

    // The load of a unit begins.
    void loadBegins(double at);
    // With every stop check of a load: the gap since the last one, when it is
    // longer than the station's pacing allows.
    std::optional<double> stalled(double at);
    // During a load, whenever no answer is in: a presence line that dropped
    // for its debounce means the unit was taken out.
    bool takenOut(double at, bool asserted);
    // An answered poll of the load, for how long the unit takes to answer.
    void answered(double latency);
    // The load ended; `doubt` when it ended because the station could not
    // vouch for the unit any more (no answer when one was due, a stall, a
    // drop), `lineUp` whether a presence line still says someone is there.
    // A plain line's doubt makes whatever answers next another unit; on a
    // presence line still up it is the same unit, which stays failed until
    // the line drops.
    void loadEnded(double at, bool doubt, bool lineUp);
    // A unit recorded without a load (Wrong, Silent) stays until it is gone.
    void recordedWithoutLoad();
    // The line itself went: whoever comes with it again is another unit.
    void lineLost();

private:
    void waitAgain();

    bool presenceLine_;
    PresenceNumbers n_;
    Phase phase_ = Phase::Waiting;
    int answers_ = 0;        // in a row, waiting
    int unanswered_ = 0;     // in a row, staying
    double wrongSince_ = -1;
    double upSince_ = -1;    // presence line up since, -1: down
    double downSince_ = -1;  // presence line down since, -1: up
    double lastTick_ = -1;   // the load's last stop check
    double slowest_ = 0;     // the slowest answer of the unit loaded
};
