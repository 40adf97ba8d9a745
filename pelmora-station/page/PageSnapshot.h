#pragma once
// The station's state as the page serves it: written by the thread that
// watches the fixtures, read by the page's thread. The lock is held only to
// swap or copy a shared byte array, so neither side ever waits on the other
// for longer than that.

#include <QByteArray>
#include <mutex>

class PageSnapshot {
public:
    void setState(QByteArray json)
    {
        std::lock_guard lock(mutex_);
        state_.swap(json);
    }
    QByteArray state() const
    {
        std::lock_guard lock(mutex_);
        return state_;
    }

private:
    mutable std::mutex mutex_;
    QByteArray state_;
};
