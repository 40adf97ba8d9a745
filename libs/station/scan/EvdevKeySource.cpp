#include "EvdevKeySource.h"

#include <cstring>
#include <libevdev/libevdev.h>
#include <unistd.h>

EvdevKeySource::EvdevKeySource(int fd, const QString& path) : fd_(fd), path_(path)
{
    const int rc = libevdev_new_from_fd(fd_, &device_);
    if (rc < 0) {
        ::close(fd_);
        throw ScannerLost(QStringLiteral("%1 is neither a terminal nor an input device: %2")
                              .arg(path_, QString::fromLocal8Bit(std::strerror(-rc)))
                              .toStdString());
    }
    if (!libevdev_has_event_code(device_, EV_KEY, KEY_ENTER)) {
        libevdev_free(device_);
        ::close(fd_);
        throw ScannerLost(QStringLiteral("%1 is an input device without an Enter key, not a keyboard scanner").arg(path_).toStdString());
    }
}

EvdevKeySource::~EvdevKeySource()
{
    libevdev_free(device_);
    ::close(fd_);
}

void EvdevKeySource::grab()
{
    if (const int rc = libevdev_grab(device_, LIBEVDEV_GRAB); rc < 0)
        throw ScannerLost(QStringLiteral("%1 cannot be grabbed%2: %3")
                              .arg(path_, rc == -EBUSY ? QStringLiteral(" (another program holds it)") : QString(),
                                   QString::fromLocal8Bit(std::strerror(-rc)))
                              .toStdString());
    // Scanners that follow the host's caps lock would otherwise invert their
    // letters; on a node opened read-only this does nothing, and that is all.
    if (libevdev_has_event_code(device_, EV_LED, LED_CAPSL))
        libevdev_kernel_set_led_value(device_, LED_CAPSL, LIBEVDEV_LED_OFF);
}

KeyEventSource::Read EvdevKeySource::next(input_event& event)
{
    for (;;) {
        const int rc = libevdev_next_event(device_, syncing_ ? LIBEVDEV_READ_FLAG_SYNC : LIBEVDEV_READ_FLAG_NORMAL, &event);
        if (rc == LIBEVDEV_READ_STATUS_SUCCESS)
            return Read::Event;
        if (rc == LIBEVDEV_READ_STATUS_SYNC) {
            if (syncing_)
                return Read::Synced;
            syncing_ = true;
            return Read::Dropped;
        }
        if (rc == -EAGAIN) {
            if (syncing_) {
                syncing_ = false;
                continue;
            }
            return Read::Empty;
        }
        if (rc == -EINTR)
            continue;
        throw ScannerLost(QStringLiteral("%1: %2").arg(path_, QString::fromLocal8Bit(std::strerror(-rc))).toStdString());
    }
}
