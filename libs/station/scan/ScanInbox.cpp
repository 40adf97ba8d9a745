#include "ScanInbox.h"

void ScanInbox::push(Scan scan)
{
    std::lock_guard lock(mutex_);
    scans_.push_back(std::move(scan));
    while (scans_.size() > kMaxWaiting)
        scans_.pop_front();
    waiting_.store(scans_.size(), std::memory_order_release);
}

std::optional<Scan> ScanInbox::take()
{
    std::lock_guard lock(mutex_);
    if (scans_.empty())
        return std::nullopt;
    Scan scan = std::move(scans_.front());
    scans_.pop_front();
    waiting_.store(scans_.size(), std::memory_order_release);
    return scan;
}

ScannerStatus ScanInbox::status() const
{
    std::lock_guard lock(mutex_);
    return status_;
}

void ScanInbox::setStatus(ScannerState state, const QString& reason)
{
    std::lock_guard lock(mutex_);
    if (status_.state == state && status_.reason == reason)
        return;
    status_.state = state;
    status_.reason = reason;
    ++status_.changes;
}
