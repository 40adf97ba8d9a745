#include "Exchanges.h"

#include "StreamPacing.h"
#include "link/CommandFrame.h"

#include <QCryptographicHash>
#include <algorithm>

namespace Wire {

Exchanges::Exchanges(MSCommLib::MSComm& port, Wait wait) : port_(port), wait_(std::move(wait)) {}

void Exchanges::readAnswersEarly(EarlyAnswers early, std::function<void()> beforeFrame)
{
    early_ = std::move(early);
    beforeFrame_ = std::move(beforeFrame);
}

void Exchanges::send(const Loose& payload)
{
    if (beforeFrame_)
        beforeFrame_();
    port_.setOutput(QString::fromLatin1(commandFrame(payload)));
}

bool Exchanges::exchange(const Loose& payload, double seconds, QChar accepted)
{
    send(payload);
    if (!early_) {
        wait_(seconds);
        // A late answer to an earlier, identical frame is that frame's answer too.
        lastReply_ = port_.Input();
        lastLatency_ = seconds;
        return lastReply_.startsWith(accepted);
    }
    const double sentAt = early_->now();
    const double deadline = sentAt + seconds;
    lastReply_.clear();
    for (double reading = sentAt; reading <= deadline; reading = early_->now()) {
        early_->slice(std::min(kAnswerSlice, std::max(deadline - reading, 1e-4)));
        lastReply_ += port_.Input();
        if (!lastReply_.isEmpty()) {
            lastLatency_ = early_->now() - sentAt;
            early_->slice(kAnswerSettle);
            lastReply_ += port_.Input();
            return lastReply_.startsWith(accepted);
        }
        if (early_->nothingYet)
            early_->nothingYet();
    }
    lastLatency_ = seconds;
    return false;
}

bool Exchanges::poll()
{
    return exchange("S", kPollWait, QLatin1Char('S'));
}

bool Exchanges::chooseSlot(const QString& deviceFileName)
{
    return exchange(QStringLiteral("#") + deviceFileName + QStringLiteral("#"), kSlotNameWait, QLatin1Char('D'));
}

bool Exchanges::announceLength(qint32 length)
{
    return exchange(QStringLiteral("%") + Loose(length).text() + QStringLiteral("#"), kLengthWait, QLatin1Char('U'));
}

void Exchanges::stream(const LabelFileFacts& announced, StreamCount& count,
                       const std::function<void(qint64)>& frameSent)
{
    count = StreamCount{announced.size, 0, false, {}};
    wait_(kStreamStartWait);
    {
        LabelFileReader file(announced);
        streamFrames(announced.size, count, [&file](qint64 sent) { return file.next(sent); }, frameSent);
        file.requireUnchanged(count.sent);
        file.requireSameBytes(count.sent);
        count.sha256 = file.sha256();
    }  // the file is closed before the end-of-file frame
    send("#File#");
    count.endSent = true;
}

void Exchanges::stream(const QByteArray& bytes, StreamCount& count, const std::function<void(qint64)>& frameSent)
{
    count = StreamCount{bytes.size(), 0, false, {}};
    wait_(kStreamStartWait);
    streamFrames(bytes.size(), count, [&bytes](qint64 sent) { return static_cast<unsigned char>(bytes[sent]); },
                 frameSent);
    count.sha256 = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
    send("#File#");
    count.endSent = true;
}

void Exchanges::streamFrames(qint64 size, StreamCount& count, const std::function<unsigned char(qint64)>& next,
                             const std::function<void(qint64)>& frameSent)
{
    qint64 nextPause = kPauseEvery;
    // Never more frames than announced: a file that grew is a changed file.
    while (count.sent < size) {
        const unsigned char byte = next(count.sent);
        // Frames are 15 ms apart from the start of one to the start of the
        // next: what it takes to hand a frame over is part of its 15 ms,
        // not added to it 1,000 times over.
        const double sentAt = early_ ? early_->now() : 0;
        send(int(byte));
        count.sent += 1;
        if (frameSent)
            frameSent(count.sent);
        wait_(early_ ? std::max(0.0, sentAt + kByteWait - early_->now()) : kByteWait);
        if (count.sent == nextPause) {
            wait_(kByteWait);
            nextPause += kPauseEvery;
        }
    }
}

qint64 Exchanges::drain(const WaitServe& between)
{
    return port_.drainOutput(between);
}

bool Exchanges::release()
{
    return exchange("#End#", kReleaseWait, QLatin1Char('T'));
}

QString slotFileName(int slot)
{
    return QStringLiteral("Externl%1.ejf").arg(slot);
}

}  // namespace Wire
