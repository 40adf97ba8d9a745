#pragma once
// What the fixture threads tell the thread that reports: events in order
// through a queue, and each fixture's progress as numbers it reads whenever
// it redraws. Nothing here waits on the output, so a slow terminal never
// holds up a stream.

#include <QString>
#include <QStringList>
#include <atomic>
#include <mutex>
#include <vector>

enum class EventKind {
    Waiting,     // for a unit; text says why the line is not usable yet, if so
    Arrived,     // a unit answered; `unit` is its number
    Label,       // the load of label `label` begins
    LabelDone,   // its result; text says what the slot holds
    Result,      // the unit's result: pass, fail or interrupted, with why
    Gone,        // the unit was taken out
    Halted,      // the fixture starts no more units; text says why, result names the
                 // result of a unit that ended but could not be recorded
};

struct LabelOutcome {
    int slot = 0;
    QString slotHolds;  // untouched|incomplete|written|loaded
    qint64 dataSent = 0;
    qint64 size = 0;
    bool fileFrameSent = false;
    bool released = false;
    QString error;
    QString reason;  // the stable code of why it did not load; empty when it did
};

struct StationEvent {
    int fixture = 0;
    EventKind kind = EventKind::Waiting;
    qint64 unit = 0;
    int label = -1;  // index into the recipe
    QString result;  // pass|fail|interrupted
    QString text;
    QString reason;  // with Result: the stable code of why it did not pass
    QString serial;  // the unit's serial, when it was scanned
    std::vector<LabelOutcome> labels;  // with Result: every label of the recipe
};

class EventQueue {
public:
    void push(StationEvent event)
    {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    std::vector<StationEvent> take()
    {
        std::lock_guard lock(mutex_);
        return std::exchange(events_, {});
    }

private:
    std::mutex mutex_;
    std::vector<StationEvent> events_;
};

// A fixture's load as it goes, for percent and time left.
struct FixtureProgress {
    std::atomic<int> label{-1};  // -1: no load running
    std::atomic<int> stage{0};   // Wire::Stage
    std::atomic<qint64> sent{0};
    // When the loop last looked up from its work (its clock's seconds): a
    // loop that stops doing so is stuck.
    std::atomic<double> alive{0};
    // Since when (the same clock) the loop has been unable to write its
    // ledger and keeps trying; -1 while it can.
    std::atomic<double> ledgerTroubleSince{-1};
};
