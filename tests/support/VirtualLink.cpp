#include "VirtualLink.h"

#include "link/Errors.h"

std::vector<TimelineEvent> Timeline::writes() const
{
    std::vector<TimelineEvent> out;
    for (const TimelineEvent& e : events)
        if (e.kind == TimelineEvent::Kind::Write)
            out.push_back(e);
    return out;
}

std::vector<double> Timeline::waits() const
{
    std::vector<double> out;
    for (const TimelineEvent& e : events)
        if (e.kind == TimelineEvent::Kind::Wait)
            out.push_back(e.seconds);
    return out;
}

QStringList Timeline::payloads() const
{
    QStringList out;
    for (const TimelineEvent& e : writes())
        out << QString::fromLatin1(e.bytes.left(e.bytes.size() - 2));
    return out;
}

double VirtualClock::now()
{
    // Each reading moves the clock on by a microsecond, like a real clock would.
    const double reading = t_->now;
    t_->now += 1e-6;
    return reading;
}

void VirtualClock::sleepFor(double seconds)
{
    t_->now += seconds;
}

void VirtualClock::waitDone(double asked, double start, double)
{
    t_->events.push_back({TimelineEvent::Kind::Wait, start, asked, {}});
}

void VirtualLine::write(const QByteArray& bytes)
{
    if (script_->failAfterWrites > 0 && written_ >= script_->failAfterWrites)
        throw PelmoraError(ErrorNumber::HardwareNotAvailable, QStringLiteral("virtual line hung up"));
    ++written_;
    drained_ = false;
    t_->events.push_back({TimelineEvent::Kind::Write, t_->now, 0, bytes});
    pending_ += bytes;
    qsizetype cr;
    while ((cr = pending_.indexOf('\r')) >= 0) {
        const QByteArray payload = pending_.left(cr - 1);
        pending_.remove(0, cr + 1);
        if (script_->onFrame)
            script_->onFrame(payload);
        if (script_->unitAt) {
            const int unit = script_->unitAt(t_->now);
            if (unit == 0)
                continue;
            script_->framesByUnit[unit] << QString::fromLatin1(payload);
        }
        QString kind;
        QString reply;
        if (payload == "S") {
            kind = QStringLiteral("poll");
            reply = QStringLiteral("S");
        } else if (payload == "#End#") {
            kind = QStringLiteral("end");
            reply = QStringLiteral("T");
        } else if (payload == "#File#") {
            continue;
        } else if (payload.startsWith('#')) {
            kind = QStringLiteral("name");
            reply = QStringLiteral("D");
        } else if (payload.startsWith('%')) {
            kind = QStringLiteral("length");
            reply = QStringLiteral("U");
        } else {
            continue;  // a data byte: no answer
        }
        if (script_->replies.contains(kind))
            reply = script_->replies.value(kind);
        received_ += reply.toLatin1();
    }
}

QByteArray VirtualLine::readAvailable()
{
    QByteArray out;
    out.swap(received_);
    return out;
}

std::optional<bool> VirtualLine::modemLineAsserted(ModemLine)
{
    if (!script_->presenceLine)
        return std::nullopt;
    return !script_->unitAt || script_->unitAt(t_->now) != 0;
}
