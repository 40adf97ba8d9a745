#pragma once
// One scanner on its own thread: it reads every scan and hands it to the
// router, stamped with the station's clock. A scanner that vanishes (a read
// fails, the line hangs up, its node is removed or replaced) is looked for
// again, sooner at first and then every few seconds, and its fixtures see it
// gone and back. One that cannot be opened at start halts its fixtures.

#include "ScanRouter.h"
#include "ScannerPort.h"
#include "link/Clock.h"

#include <atomic>
#include <functional>
#include <thread>

// Between attempts to find a vanished scanner: from the first to the longest.
inline constexpr double kScannerRetryFirst = 0.25, kScannerRetryLongest = 4.0;

class ScannerReader {
public:
    using Opener = std::function<std::unique_ptr<ScannerPort>(const QString& path)>;

    ScannerReader(QString path, ScanRouter router, Clock& clock,
                  Opener open = [](const QString& path) { return openScannerPort(path); });
    ~ScannerReader();
    ScannerReader(const ScannerReader&) = delete;
    ScannerReader& operator=(const ScannerReader&) = delete;

    // Opens the scanner here and reads it on a thread of its own; one that
    // cannot be opened halts every fixture it serves, and false is returned.
    bool start();
    // Ends the thread within a poll; closes the scanner (a grab ends with it).
    void stop();

    const QString& path() const { return path_; }

private:
    void run();
    bool tryOpen(QString& why);
    bool nodeReplaced() const;
    // Sleeps this long or until stop(); false if stopped.
    bool pause(double seconds);

    QString path_;
    ScanRouter router_;
    Clock& clock_;
    Opener open_;
    std::unique_ptr<ScannerPort> port_;
    dev_t device_ = 0;
    int wake_ = -1;  // an eventfd stop() writes to
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};
