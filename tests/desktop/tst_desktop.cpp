// The program on an operator's desktop: a real X display with a window
// manager, the real line to the emulator, and the operator's actions going
// through the X server. During the long waits the window stays alive (it
// repaints, answers the window manager's ping, takes queued work) while
// clicks wait for the running event to end; closing the window ends
// everything at once, whatever runs.

#include "DesktopSession.h"
#include "E2ERig.h"
#include "FakeDialogs.h"
#include "VirtualDevice.h"
#include "window/StatusBar.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QScreen>
#include <QStyle>
#include <QTest>
#include <QWindow>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>

namespace {

const QString kTitle = QStringLiteral("Zelkor RV7k Label Loading Program");

// Notes when the window was closed.
class CloseWatcher : public QObject {
public:
    double closedAt = -1;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Close && closedAt < 0)
            closedAt = SteadyClock().now();
        return false;
    }
};

QString number(qint64 n)
{
    return QString::number(n);
}

}  // namespace

class DesktopTest : public QObject {
    Q_OBJECT

private slots:
    void layoutFollowsTheWindowFrame();
    void windowStaysAliveDuringTheStream();
    void closingEndsEverythingAtOnce_data();
    void closingEndsEverythingAtOnce();
};

void DesktopTest::layoutFollowsTheWindowFrame()
{
    VirtualSeams device;
    Form1 form(device.seams());
    // Shown as the program shows it: centred on the screen.
    form.setGeometry(
        QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, form.size(), form.screen()->availableGeometry()));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    // Where the rule puts a control, in pixels, for the window's outer size now.
    const auto offBy = [&form] {
        const QSize outer = form.frameGeometry().size() * 15;
        const auto distance = [](QWidget* control, double left, double top) {
            return std::max(std::abs(control->x() - left / 15), std::abs(control->y() - top / 15));
        };
        return std::max({distance(form.ZelkorLogo1, outer.width() - 4500 - 200, 100),
                         distance(form.Frame1, (outer.width() - 4590) / 2.0, (outer.height() - 1875) / 2.0),
                         distance(form.Frame2, (outer.width() - 4515) / 2.0, (outer.height() - 1620) / 2.0)});
    };
    QTRY_VERIFY(form.frameGeometry().size() != form.size());  // the window manager's frame is on
    QTRY_VERIFY2_WITH_TIMEOUT(offBy() <= 1, qPrintable(QStringLiteral("off by %1 px at start-up").arg(offBy())), 3000);

    QVERIFY(DesktopSession::run(QStringLiteral("xdotool"),
                                {QStringLiteral("windowsize"), number(qint64(form.windowHandle()->winId())),
                                 QStringLiteral("600"), QStringLiteral("450")}));
    QTRY_COMPARE(form.size(), QSize(600, 450));
    QTRY_VERIFY2_WITH_TIMEOUT(offBy() <= 1, qPrintable(QStringLiteral("off by %1 px after a resize").arg(offBy())), 3000);

    // At the least size the window manager allows, the frame leaves the status bar uncovered.
    QVERIFY(DesktopSession::run(QStringLiteral("xdotool"),
                                {QStringLiteral("windowsize"), number(qint64(form.windowHandle()->winId())),
                                 QStringLiteral("10"), QStringLiteral("10")}));
    QTRY_COMPARE(form.size(), form.minimumSize());
    QTRY_VERIFY2_WITH_TIMEOUT(offBy() <= 1, qPrintable(QStringLiteral("off by %1 px at the least size").arg(offBy())), 3000);
    QVERIFY(form.Frame1->geometry().bottom() < form.StatusBar1->y());
}

void DesktopTest::windowStaysAliveDuringTheStream()
{
    E2ERig rig;
    QVERIFY2(rig.start(), qPrintable(rig.emulator.errorString()));
    Form1& form = *rig.form;
    rig.clickPanel(4);
    QCOMPARE(rig.panel(3), QStringLiteral("Connected :"));
    form.Text1->setText(rig.writeFile(QStringLiteral("label.bin"), QByteArray(300, 'q')));
    const QString shot = QDir(rig.emulator.workDir()).filePath(QStringLiteral("restored.png"));
    const QString shotTaken = shot + QStringLiteral(".done");

    bool started = false;
    bool queuedCallRanInStream = false;
    std::atomic<int> pingAnsweredAfterMs{-2};
    std::thread pinger;
    QTimer during;
    during.setInterval(20);
    bool settingsShownAtCompletion = true;
    QString fileBoxAtCompletion;
    bool shotTakenAtCompletion = false;
    int pingAtCompletion = -2;
    bool completionSeen = false;
    connect(&during, &QTimer::timeout, &form, [&] {
        // The real completion box runs its own event loop; this timer looks in from there.
        if (started && !completionSeen && qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            completionSeen = true;
            settingsShownAtCompletion = form.Frame2->isVisible();
            fileBoxAtCompletion = form.Text1->text();
            shotTakenAtCompletion = QFileInfo::exists(shotTaken);
            pingAtCompletion = pingAnsweredAfterMs;
        }
        if (started || form.LoadStage != VbTrue || form.ProgressBar1->value() < 30)
            return;
        started = true;
        QMetaObject::invokeMethod(
            &form, [&] { queuedCallRanInStream = form.LoadStage == VbTrue; }, Qt::QueuedConnection);
        // Release ticks would talk to the device between the data frames.
        form.Timer1.start();
        const unsigned long window = form.windowHandle()->winId();
        pinger = std::thread([&, window] { pingAnsweredAfterMs = DesktopSession::ping(window, 20000); });
        // Typing into the file box and a click on the settings panel; then the
        // window minimised, restored and photographed.
        const QPoint box = form.Text1->mapToGlobal(QPoint(form.Text1->width() - 4, form.Text1->height() / 2));
        const QPoint panel1 = form.StatusBar1->mapToGlobal(form.StatusBar1->panelRect(1).center());
        DesktopSession::runDetached(
            QStringLiteral("sh"),
            {QStringLiteral("-c"),
             QStringLiteral("xdotool mousemove %1 %2 click 1 type ++; xdotool mousemove %3 %4 click 1; sleep 0.2; "
                            "xdotool windowminimize %5; sleep 0.3; xdotool windowactivate %5; sleep 0.3; "
                            "import -window root '%6' && touch '%7'")
                 .arg(number(box.x()), number(box.y()), number(panel1.x()), number(panel1.y()), number(window), shot,
                      shotTaken)});
    });
    during.start();
    rig.clickLoad();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.boxes.seen.empty(), 30000);
    if (pinger.joinable())
        pinger.join();

    QVERIFY(started);
    QVERIFY(queuedCallRanInStream);
    QVERIFY2(pingAtCompletion >= 0, "the ping was not answered during the stream");
    // Restored during the stream, the window showed its logo again at once.
    QVERIFY2(shotTakenAtCompletion, "the window was not restored and photographed during the stream");
    const QImage screen(shot);
    const QRect logo(form.ZelkorLogo1->mapToGlobal(QPoint(0, 0)), form.ZelkorLogo1->size());
    int navy = 0;
    for (int y = logo.top(); y <= logo.bottom(); ++y)
        for (int x = logo.left(); x <= logo.right(); ++x)
            navy += screen.pixelColor(x, y) == QColor(0, 0, 0x80);
    QVERIFY2(navy > 1000, qPrintable(QStringLiteral("%1 navy pixels in the logo after the restore").arg(navy)));
    // Typing and click came during the stream and are handled after it, as
    // they were made, before the box could swallow them: the click gave the
    // file box the focus, the keys went there; the settings click met the
    // running upload and opened nothing over it.
    QVERIFY(completionSeen);
    QVERIFY(fileBoxAtCompletion.endsWith(QStringLiteral("++")));
    QVERIFY(!settingsShownAtCompletion);
    QTest::qWait(500);
    QVERIFY(!form.Frame2->isVisible());

    QTRY_VERIFY_WITH_TIMEOUT(!form.MSComm1.PortOpen(), 10000);
    const QStringList payloads = rig.payloads();
    const qsizetype endOfFile = payloads.indexOf(QStringLiteral("#File#"));
    QCOMPARE(endOfFile, 3 + 300);  // poll, name, length, the data: no release between them
    QCOMPARE(payloads.indexOf(QStringLiteral("#End#")), endOfFile + 1);
}

void DesktopTest::closingEndsEverythingAtOnce_data()
{
    QTest::addColumn<QString>("when");
    QTest::newRow("during the stream") << QStringLiteral("stream");
    QTest::newRow("during the completion message") << QStringLiteral("message");
    QTest::newRow("while a release is pending") << QStringLiteral("release");
}

void DesktopTest::closingEndsEverythingAtOnce()
{
    QFETCH(QString, when);
    E2ERig rig;
    auto writes = std::make_shared<WriteTimes>();
    const QStringList emulatorArgs =
        when == QStringLiteral("release") ? QStringList{QStringLiteral("--no-release")} : QStringList{};
    QVERIFY(rig.start(emulatorArgs, [&](Seams& s) { s.openLine = recordingWrites(s.openLine, writes); }));
    // The operator confirms the completion message, unless the close comes while it is open.
    rig.boxes.holdMs = when == QStringLiteral("message") ? 60000 : 300;
    Form1& form = *rig.form;
    rig.clickPanel(4);
    const QString label = rig.writeFile(QStringLiteral("label.bin"), QByteArray(when == "stream" ? 300 : 20, 'c'));
    form.Text1->setText(label);
    CloseWatcher watcher;
    form.installEventFilter(&watcher);

    QTimer trigger;
    trigger.setInterval(20);
    double requestedAt = -1;
    connect(&trigger, &QTimer::timeout, &form, [&] {
        const bool due =
            when == QStringLiteral("stream")    ? form.LoadStage == VbTrue && form.ProgressBar1->value() >= 30
            : when == QStringLiteral("message") ? !rig.boxes.seen.empty()
                                                : rig.payloads().count(QStringLiteral("#End#")) >= 2;
        if (!due || requestedAt > 0)
            return;
        requestedAt = SteadyClock().now();
        DesktopSession::runDetached(QStringLiteral("wmctrl"), {QStringLiteral("-c"), kTitle});
    });
    trigger.start();
    QTimer::singleShot(60000, [] { QCoreApplication::exit(99); });

    rig.clickLoad();
    const int exitCode = QApplication::exec();
    const double endedAt = SteadyClock().now();
    QCOMPARE(exitCode, 0);
    QVERIFY(watcher.closedAt > requestedAt);
    std::printf("closed %.1f ms after the request, event loop ended %.1f ms after the close\n",
                (watcher.closedAt - requestedAt) * 1000.0, (endedAt - watcher.closedAt) * 1000.0);

    QCOMPARE(writes->after(watcher.closedAt), 0);
    QVERIFY(!form.Timer1.isActive());
    QVERIFY(!form.Timer2.isActive());
    QVERIFY(!holdsOpen(label));
    QVERIFY(!holdsOpen(rig.emulator.ptyPath()));
    QVERIFY(rig.emulator.waitForFrames(int(writes->at.size())));
    QTest::qWait(300);
    QCOMPARE(rig.emulator.readFrames().size(), qsizetype(writes->at.size()));
    // No box besides the completion message, which the stream never reached.
    QCOMPARE(rig.boxes.seen.size(), size_t(when == QStringLiteral("stream") ? 0 : 1));
    QCOMPARE(rig.payloads().contains(QStringLiteral("#File#")), when != QStringLiteral("stream"));
}

PELMORA_DESKTOP_TEST_MAIN(DesktopTest)
#include "tst_desktop.moc"
