#include "MSComm.h"

#include "Errors.h"
#include "QtSerialLine.h"

#include <algorithm>

namespace MSCommLib {

namespace {
constexpr short kLowestPort = 1;
constexpr short kHighestPort = 10;
constexpr double kDrainMarginSeconds = 0.5;
constexpr qint64 kUnknownQueueBytes = 16;
}  // namespace

MSComm::MSComm(LineOpener opener)
    : opener_(opener ? std::move(opener) : qtSerialLineOpener(std::make_shared<PortBindings>())),
      parsed_(LineSettings::parse(settings_))
{
}

MSComm::~MSComm() = default;

void MSComm::setCommPort(short port)
{
    if (port < kLowestPort || port > kHighestPort)
        throw PelmoraError(ErrorNumber::InvalidPortNumber, QStringLiteral("port %1").arg(port));
    commPort_ = port;
}

void MSComm::setSettings(const QString& settings)
{
    parsed_ = LineSettings::parse(settings);
    settings_ = settings;
}

void MSComm::setPortOpen(bool open)
{
    if (!open) {
        line_.reset();
        return;
    }
    if (line_)
        throw PelmoraError(ErrorNumber::PortAlreadyOpen);
    line_ = opener_(commPort_, parsed_);
    if (!line_)
        throw PelmoraError(ErrorNumber::DeviceNotOpen, QStringLiteral("port %1").arg(commPort_));
    openedWith_ = parsed_;
    openedPort_ = commPort_;
}

void MSComm::dropLineAfterFailure()
{
    // A failed line is closed, so PortOpen tells what the line really is.
    line_.reset();
}

void MSComm::setOutput(const QString& text)
{
    if (!line_)
        throw PelmoraError(ErrorNumber::PortNotOpen);
    try {
        line_->write(text.toLatin1());
    } catch (const PelmoraError&) {
        dropLineAfterFailure();
        throw;
    }
}

QString MSComm::Input()
{
    if (!line_)
        throw PelmoraError(ErrorNumber::PortNotOpen);
    try {
        return QString::fromLatin1(line_->readAvailable());
    } catch (const PelmoraError&) {
        dropLineAfterFailure();
        throw;
    }
}

qint64 MSComm::drainOutput(const WaitServe& between)
{
    if (!line_)
        return 0;
    qint64 queued = line_->outputQueued();
    if (queued == 0)
        return 0;
    // Unknown: assume a full frame of the longest kind is still on its way,
    // and wait the whole bound for it.
    if (queued < 0)
        queued = kUnknownQueueBytes;
    const double needed = static_cast<double>(queued) * openedWith_.bitsPerCharacter() / openedWith_.baud;
    line_->drain(needed + kDrainMarginSeconds, between);
    if (!line_)
        return 0;
    return std::max<qint64>(line_->outputQueued(), 0);
}

void MSComm::discardOutput()
{
    if (line_)
        line_->discardOutput();
}

}  // namespace MSCommLib
