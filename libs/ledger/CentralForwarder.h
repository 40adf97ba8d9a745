#pragma once
// Sends a station's records from its local ledger to the central one, in
// order, at least once, on a thread of its own: loading never waits for it.
// A record is marked sent locally only once the central ledger committed it,
// so a lost answer or a restart sends it again, and the central ledger keeps
// it once.

#include <QString>
#include <atomic>
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
    // Sends what waits, for at most a few seconds, unless the central ledger
    // was failing; then ends and waits for the thread.
    void stop();
    // A record was written: look now rather than at the next round.
    void wake();

    // Records written locally and not yet in the central ledger.
    int waiting() const { return waiting_.load(); }
    // Why the last try failed; empty once records go through again.
    QString lastProblem() const;
    // Records the central ledger has taken since start.
    qint64 sent() const { return sent_.load(); }

private:
    void run();
    qsizetype sendBatch(LocalLedger& local, std::unique_ptr<CentralLedger>& central);
    void pause(std::chrono::milliseconds d);
    void setProblem(const QString& text);

    LocalLedger& local_;
    const QString address_;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    bool woken_ = false;
    QString problem_;
    std::atomic<int> waiting_{0};
    std::atomic<qint64> sent_{0};
};

}  // namespace Ledger
