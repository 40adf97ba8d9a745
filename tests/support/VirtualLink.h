#pragma once
// A device in virtual time for tests: a clock that moves only when waited on,
// and a serial line whose far end answers like the device. Both write into one
// timeline, so a test sees every wait asked for and every frame written, in
// order, with the virtual time at which it happened. No window needed.

#include "link/Clock.h"
#include "link/SerialLine.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

struct TimelineEvent {
    enum class Kind { Wait, Write, Message };
    Kind kind;
    double at;         // virtual seconds
    double seconds;    // Wait: what was asked
    QByteArray bytes;  // Write: the bytes; Message: the text
};

class Timeline {
public:
    std::vector<TimelineEvent> events;
    double now = 1000.0;

    std::vector<TimelineEvent> writes() const;
    std::vector<double> waits() const;
    // The payloads of the frames written, in order (frame minus check and CR).
    QStringList payloads() const;
};

class VirtualClock final : public Clock {
public:
    explicit VirtualClock(std::shared_ptr<Timeline> timeline) : t_(std::move(timeline)) {}
    double now() override;
    void sleepFor(double seconds) override;
    void waitDone(double asked, double start, double end) override;

private:
    std::shared_ptr<Timeline> t_;
};

// What the far end answers, by command kind: "poll", "name", "length", "end".
// A missing entry answers as the device does; an empty text answers nothing.
struct DeviceScript {
    QMap<QString, QString> replies;
    // Written frames after which the line fails (0: never).
    int failAfterWrites = 0;
    // How often the program waited for its output to leave the machine.
    int drains = 0;
    // Bytes that never leave however long the program drains (a device that
    // stopped taking data).
    qint64 stuckAfterDrain = 0;
    // Runs after each whole frame reaches the far end, with its payload.
    std::function<void(const QByteArray&)> onFrame;
    // A fixture: which unit is on the line at a virtual time (0: none, and a
    // frame then reaches nobody). Unset: one device, always there.
    std::function<int(double at)> unitAt;
    // With unitAt: the payloads each unit received, and whether the fixture
    // reports its unit on a modem status line.
    QMap<int, QStringList> framesByUnit;
    bool presenceLine = false;
};

class VirtualLine final : public SerialLine {
public:
    VirtualLine(std::shared_ptr<Timeline> timeline, std::shared_ptr<DeviceScript> script)
        : t_(std::move(timeline)), script_(std::move(script))
    {
    }
    void write(const QByteArray& bytes) override;
    QByteArray readAvailable() override;
    void drain(double) override
    {
        ++script_->drains;
        drained_ = true;
    }
    // Something queued until drained, so the program has to drain before it may say "done".
    qint64 outputQueued() override { return drained_ ? script_->stuckAfterDrain : 1; }
    void discardOutput() override { script_->stuckAfterDrain = 0; }
    std::optional<bool> modemLineAsserted(ModemLine) override;

private:
    std::shared_ptr<Timeline> t_;
    std::shared_ptr<DeviceScript> script_;
    QByteArray pending_;
    QByteArray received_;
    int written_ = 0;
    bool drained_ = false;
};
