#pragma once
// One device's load, start to end, on the thread that calls runLoad: its own
// MSComm on the chosen device and the shared load sequence on it; this side
// only hands over what the reporting thread shows.

#include "link/PortSelection.h"
#include "wire/LabelFile.h"
#include "wire/LoadSequence.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <mutex>
#include <vector>

using Wire::Stage;
using Wire::stageName;

struct LoadJob {
    ChosenPort port;
    int slot = 0;
    QString settings;
    int attempts = 10;
    LabelFileFacts file;
};

struct LoadResult {
    int exitStatus = 0;
    QString result;     // "loaded", "no answer", ...
    QString slotState;  // "loaded", "untouched", "incomplete", "written"
    QString error;      // what went wrong, as the operator reads it
    qint64 dataSent = 0;
    bool endSent = false;  // "#File#"
    QByteArray sha256;     // of the data as it went out, once all of it did
    QStringList replies;   // every reply read, in order
    double seconds = 0;
};

// What the device's thread shows the thread that reports.
class LoadProgress {
public:
    void enter(Stage stage);
    // The stages entered since the last call, in order.
    std::vector<Stage> takeStages();

    std::atomic<qint64> sent{0};
    std::atomic<qint64> total{0};
    std::atomic<bool> finished{false};
    LoadResult result;  // complete once `finished` reads true

private:
    std::mutex mutex_;
    std::vector<Stage> stages_;
};

void runLoad(const LoadJob& job, LoadProgress& progress);
