#include "ScannerReader.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// How often a quiet scanner's node is looked at, in ms.
constexpr int kNodeCheckMs = 500;
}

ScannerReader::ScannerReader(QString path, ScanRouter router, Clock& clock, Opener open)
    : path_(std::move(path)), router_(std::move(router)), clock_(clock), open_(std::move(open)),
      wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

ScannerReader::~ScannerReader()
{
    stop();
    if (wake_ >= 0)
        ::close(wake_);
}

bool ScannerReader::tryOpen(QString& why)
{
    try {
        port_ = open_(path_);
    } catch (const ScannerLost& lost) {
        why = QString::fromLocal8Bit(lost.what());
        return false;
    }
    struct stat st{};
    // A seam's port has no node; then only its reads tell it is gone.
    if (port_->fd() >= 0 && ::fstat(port_->fd(), &st) == 0) {
        device_ = st.st_rdev;
    }
    return true;
}

bool ScannerReader::start()
{
    QString why;
    if (!tryOpen(why)) {
        router_.setStatus(ScannerState::Halted, QStringLiteral("scanner %1 cannot be used: %2").arg(path_, why));
        return false;
    }
    router_.setStatus(ScannerState::Ok);
    thread_ = std::thread([this] { run(); });
    return true;
}

void ScannerReader::stop()
{
    stopping_ = true;
    if (wake_ >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
    }
    if (thread_.joinable())
        thread_.join();
    port_.reset();
}

bool ScannerReader::nodeReplaced() const
{
    if (port_->fd() < 0)
        return false;
    struct stat st{};
    // udev removes the node, or gives the name to another device.
    return ::stat(QFile::encodeName(path_).constData(), &st) != 0 || st.st_rdev != device_;
}

bool ScannerReader::pause(double seconds)
{
    pollfd p{wake_, POLLIN, 0};
    ::poll(&p, 1, int(seconds * 1000));
    return !stopping_;
}

void ScannerReader::run()
{
    double retry = kScannerRetryFirst;
    while (!stopping_) {
        if (!port_) {
            if (!pause(retry))
                return;
            QString why;
            if (!tryOpen(why)) {
                retry = std::min(retry * 2, kScannerRetryLongest);
                continue;
            }
            retry = kScannerRetryFirst;
            router_.setStatus(ScannerState::Ok);
        }
        pollfd p[2] = {{port_->fd(), POLLIN, 0}, {wake_, POLLIN, 0}};
        const int ready = ::poll(p, 2, kNodeCheckMs);
        if (stopping_)
            return;
        QString gone;
        if (ready < 0 && errno != EINTR) {
            gone = QStringLiteral("%1 cannot be waited on").arg(path_);
        } else if (ready == 0 || p[0].revents == 0) {
            if (nodeReplaced())
                gone = QStringLiteral("%1 was removed").arg(path_);
        } else {
            try {
                for (const ScannedLine& line : port_->readScans())
                    router_.deliver(line.text, clock_.now(), line.problem);
                if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL))
                    gone = QStringLiteral("%1 hung up").arg(path_);
            } catch (const ScannerLost& lost) {
                gone = QString::fromLocal8Bit(lost.what());
            }
        }
        if (!gone.isEmpty()) {
            port_.reset();
            router_.setStatus(ScannerState::Gone, gone);
        }
    }
}
