#pragma once
// Where a fixture's scans wait for its loop: filled by the scanner's thread,
// emptied by the fixture's. Each scan carries the station clock's reading of
// when it came, so the loop can tell a scan during a load from one before it.

#include <QString>
#include <atomic>
#include <deque>
#include <mutex>
#include <optional>

struct Scan {
    QString text;     // as scanned, the symbology prefix taken off
    double at = 0;    // the station clock's seconds when its last character came
    QString refusal;  // empty: a unit's serial; otherwise why it is not one
};

enum class ScannerState {
    Ok,
    Gone,    // it vanished; it is looked for again
    Halted,  // it could not be opened at start; nothing more will come
};

struct ScannerStatus {
    ScannerState state = ScannerState::Ok;
    QString reason;  // with Gone and Halted
    int changes = 0;  // counts every change, so a loop sees "gone, then back"
};

class ScanInbox {
public:
    // A scan nobody took is dropped once this many newer ones wait.
    static constexpr size_t kMaxWaiting = 16;

    void push(Scan scan);
    // The oldest waiting scan, if any.
    std::optional<Scan> take();
    // Cheap enough to ask before every frame.
    bool pending() const { return waiting_.load(std::memory_order_acquire) > 0; }

    ScannerStatus status() const;
    void setStatus(ScannerState state, const QString& reason = {});

private:
    mutable std::mutex mutex_;
    std::deque<Scan> scans_;
    std::atomic<size_t> waiting_{0};
    ScannerStatus status_;
};
