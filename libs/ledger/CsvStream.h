#pragma once
// The ledger's CSV export made on a thread of its own as it is taken: the
// thread reads a page of units, turns it into rows, and reads the next only
// while fewer than a few parts wait to be taken. Whoever takes them never
// waits on the ledger, and a taker that stops taking holds a few pages.

#include <QByteArray>
#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace Ledger {

class LocalLedger;

class CsvStream {
public:
    static constexpr int kUnitsAPart = 200;
    static constexpr int kPartsAhead = 2;

    // ready is called on the stream's thread whenever a part, the end or a
    // failure is there to take. The ledger outlives the stream.
    CsvStream(const LocalLedger& ledger, std::function<void()> ready);
    // Stops the thread at its next part, and waits for it.
    ~CsvStream();
    CsvStream(const CsvStream&) = delete;
    CsvStream& operator=(const CsvStream&) = delete;

    // The next part, the head line first; empty when none waits. Never waits.
    std::optional<QByteArray> take();
    // Every part was made (and may still wait to be taken).
    bool ended() const;
    // Why the ledger could not be read to its end; empty while it can.
    QString failure() const;

private:
    void run(const LocalLedger& ledger);
    bool put(QByteArray part);  // false once the stream is stopped

    std::function<void()> ready_;
    mutable std::mutex mutex_;
    std::condition_variable room_;
    std::deque<QByteArray> parts_;
    bool stop_ = false, ended_ = false;
    QString failure_;
    std::thread thread_;
};

}  // namespace Ledger
