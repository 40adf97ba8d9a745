#include "Presence.h"

#include "Fixture.h"
#include "link/CommandFrame.h"
#include "link/Wait.h"
#include "wire/Exchanges.h"

namespace {
// How often the reply is looked for, and how long the rest of a reply that
// began is given to arrive, so that none of it is left for the next exchange.
constexpr double kReplySlice = 0.02;
constexpr double kReplySettle = 0.02;
}  // namespace

PollPresence::PollPresence(MSCommLib::MSComm& port, Clock& clock, std::function<void()> stop)
    : port_(port), clock_(clock), stop_(std::move(stop))
{
}

void PollPresence::wait(double seconds)
{
    if (stop_)
        stop_();
    waitOn(clock_, seconds, stop_);
    if (stop_)
        stop_();
}

Sighting PollPresence::poll()
{
    if (lastPoll_ >= 0) {
        const double left = lastPoll_ + kPresencePollEvery - clock_.now();
        if (left > 0)
            wait(left);
    }
    // What came after a poll's reply was read belongs to no poll.
    port_.Input();
    lastPoll_ = clock_.now();
    port_.setOutput(QString::fromLatin1(commandFrame("S")));
    QString reply;
    const double deadline = lastPoll_ + Wire::kPollWait;
    while (reply.isEmpty() && clock_.now() <= deadline) {
        wait(kReplySlice);
        reply += port_.Input();
    }
    if (reply.isEmpty())
        return {};
    wait(kReplySettle);
    reply += port_.Input();
    if (reply.startsWith(QLatin1Char('S')))
        return {Sighting::Kind::Answered, reply};
    return {Sighting::Kind::WrongAnswer, reply};
}
