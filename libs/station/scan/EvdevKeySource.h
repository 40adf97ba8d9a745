#pragma once
// A keyboard scanner's input event node read through libevdev.

#include "ScannerPort.h"

struct libevdev;

class EvdevKeySource final : public KeyEventSource {
public:
    // Takes an open input event node; throws ScannerLost if it is no keyboard.
    EvdevKeySource(int fd, const QString& path);
    ~EvdevKeySource() override;
    int fd() const override { return fd_; }
    void grab() override;
    Read next(input_event& event) override;

private:
    int fd_;
    QString path_;
    libevdev* device_ = nullptr;
    bool syncing_ = false;
};
