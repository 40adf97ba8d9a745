#include "ledger/CsvStream.h"

#include "ledger/CsvExport.h"
#include "ledger/UnitPages.h"

namespace Ledger {

CsvStream::CsvStream(const LocalLedger& ledger, std::function<void()> ready) : ready_(std::move(ready))
{
    thread_ = std::thread([this, &ledger] { run(ledger); });
}

CsvStream::~CsvStream()
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    room_.notify_all();
    thread_.join();
}

void CsvStream::run(const LocalLedger& ledger)
{
    QString failed;
    try {
        UnitPages pages(ledger);
        bool more = put(csvHead());
        while (more) {
            const QList<UnitRecord> units = pages.next(kUnitsAPart);
            if (units.isEmpty())
                break;
            more = put(csvRows(units));
        }
    } catch (const std::exception& error) {
        failed = QString::fromLocal8Bit(error.what());
    }
    {
        std::lock_guard lock(mutex_);
        ended_ = failed.isEmpty() && !stop_;
        failure_ = failed;
    }
    ready_();
}

bool CsvStream::put(QByteArray part)
{
    {
        std::unique_lock lock(mutex_);
        room_.wait(lock, [this] { return stop_ || parts_.size() < size_t(kPartsAhead); });
        if (stop_)
            return false;
        parts_.push_back(std::move(part));
    }
    ready_();
    return true;
}

std::optional<QByteArray> CsvStream::take()
{
    std::optional<QByteArray> part;
    {
        std::lock_guard lock(mutex_);
        if (parts_.empty())
            return part;
        part = std::move(parts_.front());
        parts_.pop_front();
    }
    room_.notify_one();
    return part;
}

bool CsvStream::ended() const
{
    std::lock_guard lock(mutex_);
    return ended_;
}

QString CsvStream::failure() const
{
    std::lock_guard lock(mutex_);
    return failure_;
}

}  // namespace Ledger
