#pragma once
// Sends a station's records from its local ledger to the central one, in
// order, at least once, on a thread of its own: loading never waits for it.
// A record is marked sent locally only once the central ledger committed it,
// so a lost answer or a restart sends it again, and the central ledger keeps
// it once. At every connection it reads where the central copy of the
// station's chain ends and sends everything after it, so a central database
// restored from an older backup gets back what it lost.

#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace Ledger {

class CentralLedger;
class LocalLedger;

class CentralForwarder {
public:
    // The station's own ledger object, so what is sent comes from the file
    // the station opened; it outlives the forwarder.
    CentralForwarder(LocalLedger& local, const QString& centralAddress);
    ~CentralForwarder();  // stops
    CentralForwarder(const CentralForwarder&) = delete;
    CentralForwarder& operator=(const CentralForwarder&) = delete;

    void start();
    // Sends what waits for at most flushFor (when the central ledger was
    // answering), then ends the thread. Returns false when the thread is
    // still held in the network half a second after that: then neither this
    // object nor the ledger may be destroyed; end the process (std::_Exit).
    bool stop(std::chrono::milliseconds flushFor = std::chrono::seconds(5));
    // A record was written: look now rather than at the next round.
    void wake();

    // Records written locally and not yet in the central ledger.
    int waiting() const { return waiting_.load(); }
    // Why the last try failed; empty once records go through again.
    QString lastProblem() const;
    // Records the central ledger has taken since start.
    qint64 sent() const { return sent_.load(); }
    // The central copy differs from the station's own chain (a restored or
    // cloned ledger, a row stored otherwise): nothing more is sent this run,
    // lastProblem() says where, and the run's records are not forwarded.
    bool forwardingStopped() const { return stopped_.load(); }
    // Another running station forwards under this one's identity.
    bool identityInUse() const { return identityInUse_.load(); }
    // Waits until the first connection was made and checked, or failed;
    // false when neither happened within the time.
    bool waitForFirstAnswer(std::chrono::milliseconds within);

private:
    void run();
    void heal(CentralLedger& central);
    qsizetype sendBatch(CentralLedger& central);
    void pause(std::chrono::milliseconds d);
    void setProblem(const QString& text);
    void setAnswered();
    bool stopping() const;

    LocalLedger& local_;
    const QString address_;
    // This run's claim on the station's identity, renewed well within its lease.
    const QString holder_;
    std::chrono::steady_clock::time_point claimed_;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    bool woken_ = false;
    bool finished_ = false;
    std::chrono::steady_clock::time_point flushUntil_;
    QString problem_;
    std::atomic<int> waiting_{0};
    std::atomic<qint64> sent_{0};
    std::atomic<bool> stopped_{false};
    std::atomic<bool> identityInUse_{false};
    bool answered_ = false;
};

}  // namespace Ledger
