#include "ledger/CentralForwarder.h"

#include "ledger/CentralAddress.h"
#include "ledger/CentralLedger.h"
#include "ledger/LocalLedger.h"

#include <QFileInfo>
#include <algorithm>
#include <memory>

namespace Ledger {

using namespace std::chrono_literals;

CentralForwarder::CentralForwarder(LocalLedger& local, const QString& centralAddress)
    : local_(local), address_(centralAddress)
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
    }
    thread_ = std::thread([this] { run(); });
}

void CentralForwarder::stop()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
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

void CentralForwarder::pause(std::chrono::milliseconds d)
{
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, d, [this] { return stopping_ || woken_; });
    woken_ = false;
}

void CentralForwarder::run()
{
    std::unique_ptr<CentralLedger> central;
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
    const auto stopping = [this] {
        const std::lock_guard lock(mutex_);
        return stopping_;
    };
    while (!stopping()) {
        try {
            // Nothing waited and the file did not change: nothing to read
            // (and every half minute a look all the same, as a change within
            // the file time's resolution would not show).
            const QString stamp = fileStamp();
            if (waiting_ == 0 && stamp == seen && ++idle % 30 != 0) {
                pause(1000ms);
                continue;
            }
            seen = stamp;
            if (sendBatch(local_, central) == 0)
                continue;
            setProblem({});
            backoff = 1000ms;
        } catch (const std::exception& error) {
            // Dropped and made anew: after a failure the connection may be dead.
            central.reset();
            setProblem(QString::fromUtf8(error.what()));
            pause(backoff);
            backoff = std::min(backoff * 2, std::chrono::milliseconds(60s));
        }
    }
    // A run that ends leaves nothing waiting when the central ledger answers;
    // when it did not, the records wait for the next start.
    if (!lastProblem().isEmpty())
        return;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    try {
        while (std::chrono::steady_clock::now() < deadline && sendBatch(local_, central) > 0) {
        }
    } catch (const std::exception& error) {
        setProblem(QString::fromUtf8(error.what()));
    }
}

qsizetype CentralForwarder::sendBatch(LocalLedger& local, std::unique_ptr<CentralLedger>& central)
{
    waiting_ = local.waiting();
    if (waiting_ == 0)
        return 0;
    const QList<ChainEntry> batch = local.unsent(100);
    if (batch.isEmpty())
        return 0;
    if (!central)
        central = std::make_unique<CentralLedger>(address_);
    central->store(batch);
    // Killed between these two, the batch is sent again and stored once.
    local.markSentUpTo(batch.last().seq);
    waiting_ -= int(batch.size());
    sent_ += batch.size();
    return batch.size();
}

}  // namespace Ledger
