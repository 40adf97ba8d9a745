#include "ledger/CentralLookup.h"

#include "ledger/CentralAddress.h"
#include "ledger/CentralLedger.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace Ledger {

namespace {

struct Question {
    QString serial, recipe;
    int withinMs = 1000;
    bool done = false;
    CentralLookup::Answer answer;
};

}  // namespace

// Shared with the thread, which may outlive the object while held in libpq.
struct CentralLookup::State {
    QString address;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::shared_ptr<Question>> questions;
    bool stopping = false;
    bool finished = false;

    void run()
    {
        work();
        {
            const std::lock_guard lock(mutex);
            finished = true;
        }
        changed.notify_all();
    }

    void work()
    {
        std::unique_ptr<CentralLedger> central;
        for (;;) {
            std::shared_ptr<Question> q;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [this] { return stopping || !questions.empty(); });
                if (stopping)
                    return;
                q = questions.front();
                questions.pop_front();
            }
            CentralLookup::Answer a;
            try {
                if (!central)
                    central = std::make_unique<CentralLedger>(address);
                a.lastPass = central->lastPass(q->serial, q->recipe, q->withinMs);
                a.answered = true;
            } catch (const std::exception& error) {
                central.reset();  // after a failure the connection may be dead
                a.problem = QString::fromUtf8(error.what());
            }
            {
                const std::lock_guard lock(mutex);
                q->answer = a;
                q->done = true;
            }
            changed.notify_all();
        }
    }
};

CentralLookup::CentralLookup(const QString& centralAddress) : state_(std::make_shared<State>())
{
    Ledger::centralAddress(centralAddress);  // malformed, or a password in it: refused at once
    state_->address = centralAddress;
    std::thread([state = state_] { state->run(); }).detach();
}

CentralLookup::~CentralLookup()
{
    std::unique_lock lock(state_->mutex);
    state_->stopping = true;
    state_->changed.notify_all();
    // Its connection is closed before the program ends, unless the thread is
    // held in the network: then it is left behind, holding its own state.
    state_->changed.wait_for(lock, std::chrono::milliseconds(500), [this] { return state_->finished; });
}

CentralLookup::Answer CentralLookup::lastPass(const QString& serial, const QString& recipeSha256,
                                              std::chrono::milliseconds within)
{
    const auto deadline = std::chrono::steady_clock::now() + within;
    auto q = std::make_shared<Question>();
    q->serial = serial;
    q->recipe = recipeSha256;
    q->withinMs = int(std::max<qint64>(1, within.count()));
    std::unique_lock lock(state_->mutex);
    // Questions pile up only while the database does not answer; past a
    // few, each is answered "unknown" at once.
    if (state_->questions.size() >= 8)
        return Answer{false, std::nullopt, QStringLiteral("the central ledger is not answering")};
    state_->questions.push_back(q);
    state_->changed.notify_all();
    if (!state_->changed.wait_until(lock, deadline, [&] { return q->done; })) {
        Answer late;
        late.problem = QStringLiteral("the central ledger did not answer within %1 ms").arg(within.count());
        return late;
    }
    return q->answer;
}

}  // namespace Ledger
