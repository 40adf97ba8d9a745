#include "Presence.h"

#include "link/CommandFrame.h"
#include "wire/Exchanges.h"

#include <algorithm>

namespace {
// How often the reply is looked for, and how long the rest of a reply that
// began is given to arrive, so that none of it is left for the next exchange.
constexpr double kReplySlice = 0.02;
constexpr double kReplySettle = 0.02;
// The longest sleep between two stop checks.
constexpr double kLongestNap = 0.1;
}  // namespace

PollPresence::PollPresence(MSCommLib::MSComm& port, Clock& clock, std::function<void()> stop)
    : port_(port), clock_(clock), stop_(std::move(stop))
{
}

void PollPresence::wait(double seconds)
{
    // Nothing here needs the fine end of a paced wait: plain sleeps, so an
    // idle fixture costs next to nothing, with the stop check between them.
    const double deadline = clock_.now() + seconds;
    for (double left = seconds; left > 0; left = deadline - clock_.now()) {
        if (stop_)
            stop_();
        clock_.sleepFor(std::min(left, kLongestNap));
    }
    if (stop_)
        stop_();
}

Sighting PollPresence::poll(double every, double answerWait)
{
    if (lastPoll_ >= 0) {
        const double left = lastPoll_ + every - clock_.now();
        if (left > 0)
            wait(left);
    }
    // What came after a poll's reply was read belongs to no poll.
    port_.Input();
    lastPoll_ = clock_.now();
    port_.setOutput(QString::fromLatin1(commandFrame("S")));
    QString reply;
    const double deadline = lastPoll_ + answerWait;
    while (reply.isEmpty() && clock_.now() <= deadline) {
        wait(std::clamp(deadline - clock_.now(), 0.001, kReplySlice));
        reply += port_.Input();
    }
    if (reply.isEmpty())
        return {};
    const double latency = clock_.now() - lastPoll_;
    wait(kReplySettle);
    reply += port_.Input();
    if (reply.startsWith(QLatin1Char('S')))
        return {Sighting::Kind::Answered, reply, latency};
    return {Sighting::Kind::WrongAnswer, reply, latency};
}
