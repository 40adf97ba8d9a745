#pragma once
// A desktop of a test's own: a virtual X display (Xvfb) with a window manager
// (openbox), so the program's window gets a frame, a close button and the
// window manager's requests as on an operator's bench. Operator actions go
// through the X server (xdotool, wmctrl), not through Qt.

#include <QProcess>
#include <QString>
#include <QStringList>

class DesktopSession {
public:
    DesktopSession() = default;
    ~DesktopSession();
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    // Whether Xvfb, openbox, xdotool and wmctrl are installed; the reason in why().
    bool available();
    // Starts the display and the window manager and points DISPLAY at them.
    // False, with the reason in why(), when one of them fails.
    bool start();
    QString why() const { return why_; }

    // Runs an X tool (xdotool, wmctrl) to its end; false when it failed.
    static bool run(const QString& tool, const QStringList& args);
    // The same in the background, for while the program's thread is busy.
    static void runDetached(const QString& tool, const QStringList& args);

    // Sends the window manager's liveness ping (_NET_WM_PING) to a client
    // window and waits for its answer on the root window. Milliseconds until
    // the answer, or -1 when none came within timeoutMs. Blocks; run it on a
    // thread of its own while the program's thread is busy.
    static int ping(unsigned long window, int timeoutMs);

private:
    QProcess server_;
    QProcess windowManager_;
    QString why_;
};

// Main for a desktop test: starts the session and runs the test object with
// Qt on X11; exits with 77 (skipped) saying what is missing, or fails when
// the session does not start.
#define PELMORA_DESKTOP_TEST_MAIN(TestObject)                                      \
    int main(int argc, char** argv)                                                \
    {                                                                              \
        DesktopSession desktop;                                                    \
        if (!desktop.available()) {                                                \
            std::printf("SKIP: no desktop to test on: %s\n", qPrintable(desktop.why())); \
            return 77;                                                             \
        }                                                                          \
        if (!desktop.start()) {                                                    \
            std::printf("FAIL: the desktop did not start: %s\n", qPrintable(desktop.why())); \
            return 1;                                                              \
        }                                                                          \
        qputenv("QT_QPA_PLATFORM", "xcb");                                         \
        QApplication app(argc, argv);                                              \
        TestObject test;                                                           \
        return QTest::qExec(&test, argc, argv);                                    \
    }
