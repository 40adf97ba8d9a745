#pragma once
// A serial (CDC) scanner: one scan per line.

#include "ScannerPort.h"

class TtyScannerPort final : public ScannerPort {
public:
    // Takes an open terminal; makes it raw and exclusive.
    TtyScannerPort(int fd, const QString& path, const std::optional<LineSettings>& settings = std::nullopt);
    ~TtyScannerPort() override;
    int fd() const override { return fd_; }
    std::vector<ScannedLine> readScans() override;

private:
    int fd_;
    QString path_;
    LineSplitter lines_;
};
