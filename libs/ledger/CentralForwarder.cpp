#include "ledger/CentralForwarder.h"

#include "ledger/CentralAddress.h"
#include "ledger/CentralLedger.h"
#include "ledger/LocalLedger.h"

#include <algorithm>
#include <memory>

namespace Ledger {

using namespace std::chrono_literals;

CentralForwarder::CentralForwarder(const QString& ledgerPath, const QString& centralAddress)
    : ledgerPath_(ledgerPath), address_(centralAddress)
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
    std::unique_ptr<LocalLedger> local;
    auto backoff = 1000ms;
    const auto stopping = [this] {
        const std::lock_guard lock(mutex_);
        return stopping_;
    };
    while (!stopping()) {
        try {
            if (!local)
                local = std::make_unique<LocalLedger>(ledgerPath_);
            const QList<ChainEntry> batch = local->unsent(100);
            waiting_ = local->waiting();
            if (batch.isEmpty()) {
                pause(1000ms);
                continue;
            }
            if (!central)
                central = std::make_unique<CentralLedger>(address_);
            for (const ChainEntry& e : batch) {
                if (stopping())
                    break;
                central->store(e);
                local->markSent(e.seq);
                --waiting_;
                ++sent_;
            }
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
}

}  // namespace Ledger
