#include "ledger/CentralForwarder.h"

#include "ledger/CentralAddress.h"
#include "ledger/CentralLedger.h"
#include "ledger/LocalLedger.h"

#include <QFileInfo>
#include <QUuid>
#include <algorithm>
#include <memory>

namespace Ledger {

using namespace std::chrono_literals;

CentralForwarder::CentralForwarder(LocalLedger& local, const QString& centralAddress)
    : local_(local), address_(centralAddress), holder_(QUuid::createUuid().toString(QUuid::WithoutBraces))
{
    Ledger::centralAddress(centralAddress);  // a malformed address or a password in it is refused at once
}

CentralForwarder::~CentralForwarder()
{
    stop();
}

void CentralForwarder::start()
{
    if (thread_.joinable())
        return;
    {
        const std::lock_guard lock(mutex_);
        stopping_ = false;
        finished_ = false;
    }
    thread_ = std::thread([this] {
        run();
        {
            const std::lock_guard lock(mutex_);
            finished_ = true;
        }
        changed_.notify_all();
    });
}

bool CentralForwarder::stop(std::chrono::milliseconds flushFor)
{
    std::unique_lock lock(mutex_);
    if (!stopping_) {
        stopping_ = true;
        flushUntil_ = std::chrono::steady_clock::now() + flushFor;
    }
    changed_.notify_all();
    if (!thread_.joinable())
        return true;
    // A server that takes the bytes and never answers holds the thread in
    // libpq for as long as it likes; the station's end does not wait on it.
    if (!changed_.wait_until(lock, flushUntil_ + 500ms, [this] { return finished_; })) {
        thread_.detach();
        return false;
    }
    lock.unlock();
    thread_.join();
    return true;
}

void CentralForwarder::wake()
{
    {
        const std::lock_guard lock(mutex_);
        woken_ = true;
    }
    changed_.notify_all();
}

QString CentralForwarder::lastProblem() const
{
    const std::lock_guard lock(mutex_);
    return problem_;
}

void CentralForwarder::setProblem(const QString& text)
{
    const std::lock_guard lock(mutex_);
    problem_ = text;
}

bool CentralForwarder::waitForFirstAnswer(std::chrono::milliseconds within)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, within, [this] { return answered_; });
}

void CentralForwarder::setAnswered()
{
    {
        const std::lock_guard lock(mutex_);
        answered_ = true;
    }
    changed_.notify_all();
}

bool CentralForwarder::stopping() const
{
    const std::lock_guard lock(mutex_);
    return stopping_;
}

void CentralForwarder::pause(std::chrono::milliseconds d)
{
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, d, [this] { return stopping_ || woken_; });
    woken_ = false;
}

void CentralForwarder::run()
{
    std::unique_ptr<CentralLedger> central;
    bool healed = false;
    auto backoff = 1000ms;
    QString seen;
    int idle = 0;
    const auto fileStamp = [this] {
        QString stamp;
        for (const QString& file : {local_.path(), local_.path() + QStringLiteral("-wal")}) {
            const QFileInfo info(file);
            stamp += QString::number(info.size()) + QLatin1Char('/')
                   + QString::number(info.lastModified().toMSecsSinceEpoch()) + QLatin1Char(' ');
        }
        return stamp;
    };
    while (!stopping()) {
        try {
            // Nothing waited and the file did not change: nothing to read
            // (and every half minute a look all the same, as a change within
            // the file time's resolution would not show).
            if (central && healed && std::chrono::steady_clock::now() - claimed_ >= std::chrono::seconds(CentralLedger::kLeaseSeconds / 3)) {
                central->claimStation(local_.station(), holder_);
                claimed_ = std::chrono::steady_clock::now();
            }
            const QString stamp = fileStamp();
            if (healed && waiting_ == 0 && stamp == seen && ++idle % 30 != 0) {
                pause(1000ms);
                continue;
            }
            seen = stamp;
            waiting_ = local_.outbox().waiting();
            if (!central) {
                central = std::make_unique<CentralLedger>(address_);
                healed = false;
            }
            if (!healed) {
                heal(*central);
                healed = true;
                setAnswered();
            }
            if (sendBatch(*central) == 0)
                continue;
            setProblem({});
            backoff = 1000ms;
        } catch (const ChainConflict& error) {
            central.reset();
            identityInUse_ = dynamic_cast<const IdentityInUse*>(&error) != nullptr;
            setProblem(QString::fromUtf8(error.what()) + QStringLiteral("; records not forwarded"));
            stopped_ = true;
            setAnswered();
            break;
        } catch (const std::exception& error) {
            // Dropped and made anew: after a failure the connection may be dead.
            central.reset();
            healed = false;
            setProblem(QString::fromUtf8(error.what()));
            setAnswered();
            pause(backoff);
            backoff = std::min(backoff * 2, std::chrono::milliseconds(60s));
        }
    }
    // Sending ended for this run: the count of what waits still follows the ledger.
    while (stopped_ && !stopping()) {
        try {
            waiting_ = local_.outbox().waiting();
        } catch (const std::exception&) {
        }
        pause(1000ms);
    }
    // A run that ends leaves nothing waiting when the central ledger answers;
    // when it did not, the records wait for the next start.
    if (stopped_ || !lastProblem().isEmpty())
        return;
    std::chrono::steady_clock::time_point deadline;
    {
        const std::lock_guard lock(mutex_);
        deadline = flushUntil_;
    }
    try {
        while (std::chrono::steady_clock::now() < deadline) {
            if (!central) {
                central = std::make_unique<CentralLedger>(address_);
                heal(*central);
            }
            if (sendBatch(*central) == 0)
                break;
        }
        // The next start of this station need not wait for the lease.
        if (central)
            central->releaseStation(local_.station(), holder_);
    } catch (const ChainConflict& error) {
        setProblem(QString::fromUtf8(error.what()) + QStringLiteral("; records not forwarded"));
        stopped_ = true;
    } catch (const std::exception& error) {
        setProblem(QString::fromUtf8(error.what()));
    }
}

void CentralForwarder::heal(CentralLedger& central)
{
    central.claimStation(local_.station(), holder_);
    claimed_ = std::chrono::steady_clock::now();
    const ChainEntry end = central.chainEnd(local_.station());
    if (end.seq > 0) {
        const std::optional<ChainEntry> own = local_.link(end.seq);
        if (!own || own->hash != end.hash) {
            const QList<ChainEntry> mine = local_.chain();
            const QList<Finding> differ = compareCopies(mine, local_.outbox().sentUpTo(), central.chain(local_.station()));
            throw ChainConflict(
                differ.isEmpty() ? QStringLiteral("the central ledger's copy of station %1 ends at record %2, "
                                                  "which differs from the station's own")
                                       .arg(local_.station())
                                       .arg(end.seq)
                                       .toStdString()
                                 : differ.first().text.toStdString());
        }
    }
    // Whatever the central copy lacks goes again, whatever was marked sent:
    // storing is idempotent, and a restored database gets it back, a
    // record missing from the middle of the chain too.
    const qint64 gap = central.firstGap(local_.station(), end.seq);
    local_.outbox().resendAfter(gap > 0 ? gap - 1 : end.seq);
}

qsizetype CentralForwarder::sendBatch(CentralLedger& central)
{
    waiting_ = local_.outbox().waiting();
    if (waiting_ == 0)
        return 0;
    const QList<ChainEntry> batch = local_.outbox().unsent(100);
    if (batch.isEmpty())
        return 0;
    central.store(batch);
    // Killed between these two, the batch is sent again and stored once.
    local_.outbox().markSentUpTo(batch.last().seq);
    waiting_ -= int(batch.size());
    sent_ += batch.size();
    return batch.size();
}

}  // namespace Ledger
