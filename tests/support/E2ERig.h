#pragma once
// The whole program against the device emulator over a real pseudo-terminal,
// with the real clock, QSerialPort and message boxes. Message boxes are closed
// by BoxCloser as an operator would, after holding them open a while.

#include "EmulatorProcess.h"
#include "Form1.h"

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

class BoxCloser : public QObject {
    Q_OBJECT
public:
    struct Seen {
        QString text;
        QMessageBox::Icon icon;
        QString title;
        int framesAtOpen = -1;   // what the device had logged when the box appeared
        int framesAtClose = -1;  // and just before it was closed
        double closedAt = 0;     // monotonic seconds, the emulator's clock
    };

    BoxCloser();
    std::vector<Seen> seen;
    // Long enough for the emulator to log what reached it before the box.
    int holdMs = 500;
    // Counts the frames the device has seen, read when a box opens and closes.
    std::function<int()> frameCount;

private:
    void poll();
    QTimer timer_;
    QPointer<QMessageBox> current_;
};

// When the program wrote to the line (monotonic seconds), seen from its side.
struct WriteTimes {
    std::vector<double> at;
    int after(double t) const;
};
// Opens the line as `open` does, noting every write.
LineOpener recordingWrites(LineOpener open, std::shared_ptr<WriteTimes> times);

struct E2ERig {
    EmulatorProcess emulator;
    std::unique_ptr<Form1> form;
    BoxCloser boxes;

    // Starts the emulator with these options and the program with its pty as
    // port 1; `adjust` may replace some of the production seams first.
    bool start(const QStringList& emulatorArgs = {}, const std::function<void(Seams&)>& adjust = {});
    // Points port 1 at another emulator (the old one is gone).
    void usePort(const QString& ptyPath);

    // An operator's click on status panel n.
    void clickPanel(int n);
    void clickLoad();
    QString panel(int n) const;
    QString tip(int n) const;
    QStringList payloads() const;
    QString writeFile(const QString& name, const QByteArray& bytes) const;
};

// Open file descriptors of this process.
int openFileCount();
// Whether this process holds the file open.
bool holdsOpen(const QString& path);
