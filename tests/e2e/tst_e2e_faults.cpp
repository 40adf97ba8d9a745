// What the operator sees when something goes wrong, against the real line.

#include "E2ERig.h"

#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QKeyEvent>
#include <QWindow>
#include <QTest>
#include <cstdio>
#include <algorithm>
#include <thread>
#include <csignal>

class FaultsE2ETest : public QObject {
    Q_OBJECT

private slots:
    void hangUpMidStream();
    void nextLoadAfterAHangupStartsClean();
    void fileVanishesBetweenNameAndLength();
    void fileChangedWhileLoading_data();
    void fileChangedWhileLoading();
    void blankBoxAndClosedPort();
    void deviceFrozenMidStreamIsNoCompletion();
    void unconfirmedReleaseEndsWithF5();
};

void FaultsE2ETest::hangUpMidStream()
{
    E2ERig rig;
    QVERIFY(rig.start({QStringLiteral("--hangup-after"), QStringLiteral("50")}));
    rig.clickPanel(4);
    const QString label = rig.writeFile(QStringLiteral("long.bin"), QByteArray(400, 'z'));
    rig.form->Text1->setText(label);
    rig.clickLoad();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.boxes.seen.empty(), 20000);
    QTest::qWait(1500);  // later ticks report nothing more
    QCOMPARE(rig.boxes.seen.size(), size_t(1));
    QVERIFY2(rig.boxes.seen[0].text.startsWith(QStringLiteral("Error 8010: ")), qPrintable(rig.boxes.seen[0].text));
    QCOMPARE(rig.boxes.seen[0].icon, QMessageBox::Critical);
    QVERIFY(!rig.form->Timer2.isActive());
    QVERIFY(!rig.form->Timer1.isActive());
    QVERIFY(!rig.form->Command1->isHidden());
    QVERIFY(!rig.form->MSComm1.PortOpen());
    QCOMPARE(rig.panel(3), QStringLiteral("No Connection  :"));
    QVERIFY(!holdsOpen(label));

    // A new line on port 1: connect and load again.
    EmulatorProcess second;
    QVERIFY(second.start());
    rig.usePort(second.ptyPath());
    rig.clickPanel(4);
    QCOMPARE(rig.panel(3), QStringLiteral("Connected :"));
    rig.form->Text1->setText(rig.writeFile(QStringLiteral("short.bin"), "ok"));
    rig.clickLoad();
    QTRY_VERIFY_WITH_TIMEOUT(rig.boxes.seen.size() == 2, 20000);
    QCOMPARE(rig.boxes.seen[1].text, QStringLiteral("Loading file process completed"));
    QTRY_VERIFY_WITH_TIMEOUT(!rig.form->MSComm1.PortOpen(), 10000);
    QFile got(second.outDir() + QStringLiteral("/Externl1.ejf"));
    QVERIFY(got.open(QIODevice::ReadOnly));
    QCOMPARE(got.readAll(), QByteArray("ok"));
}

void FaultsE2ETest::nextLoadAfterAHangupStartsClean()
{
    // Port 1 is a link, pointed at a new device once the first has hung up.
    QTemporaryDir links;
    const QString port = links.filePath(QStringLiteral("rv7k"));
    E2ERig rig;
    QVERIFY(rig.start({QStringLiteral("--hangup-after"), QStringLiteral("50")}, [&](Seams&) {
        QFile::link(rig.emulator.ptyPath(), port);
        rig.usePort(port);
    }));
    rig.clickPanel(4);
    rig.form->Text1->setText(rig.writeFile(QStringLiteral("long.bin"), QByteArray(300, 'z')));
    rig.clickLoad();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.boxes.seen.empty(), 20000);
    QVERIFY2(rig.boxes.seen[0].text.startsWith(QStringLiteral("Error 8010: ")), qPrintable(rig.boxes.seen[0].text));
    QCOMPARE(rig.form->ProgressBar1->value(), 0);

    // The new device does not take the slot name: it gets slot names only.
    EmulatorProcess second;
    QVERIFY(second.start({QStringLiteral("--reply"), QStringLiteral("name=N")}));
    QFile::remove(port);
    QVERIFY(QFile::link(second.ptyPath(), port));
    rig.clickPanel(4);
    QCOMPARE(rig.panel(3), QStringLiteral("Connected :"));
    rig.clickLoad();
    const auto names = [](const QList<QJsonObject>& log) {
        return std::count_if(log.begin(), log.end(), [](const QJsonObject& o) {
            return o.value(QStringLiteral("payload")).toString() == QStringLiteral("#Externl1.ejf#");
        });
    };
    QTRY_VERIFY_WITH_TIMEOUT(names(second.readFrames()) >= 2, 15000);
    rig.clickPanel(4);  // stop asking
    QStringList payloads;
    for (const QJsonObject& frame : second.readFrames())
        payloads << frame.value(QStringLiteral("payload")).toString();
    QCOMPARE(payloads.first(), QStringLiteral("S"));
    QCOMPARE(payloads.mid(1).filter(QStringLiteral("#Externl1.ejf#")).size(), payloads.size() - 1);
}

void FaultsE2ETest::fileVanishesBetweenNameAndLength()
{
    E2ERig rig;
    QVERIFY(rig.start());
    rig.clickPanel(4);
    const QString path = rig.writeFile(QStringLiteral("gone.txt"), "abc");
    rig.form->Text1->setText(path);
    const int filesBefore = openFileCount();
    // The first tick comes 0.3 s after Load and then waits 2 s for the name's
    // answer; the file goes in the middle of that wait.
    std::thread remover([path] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1300));
        QFile::remove(path);
    });
    rig.clickLoad();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.boxes.seen.empty(), 10000);
    remover.join();
    QTest::qWait(1000);
    QCOMPARE(rig.boxes.seen.size(), size_t(1));
    QCOMPARE(rig.boxes.seen[0].text, QStringLiteral("Error 53: File not found: \"%1\"").arg(path));
    QCOMPARE(rig.payloads(), QStringList({"S", "#Externl1.ejf#"}));
    QVERIFY(!rig.form->Timer2.isActive());
    QVERIFY(!rig.form->Command1->isHidden());
    QCOMPARE(openFileCount(), filesBefore);
    QVERIFY(!holdsOpen(path));

    // Still usable: the file is back and the next load goes through.
    rig.writeFile(QStringLiteral("gone.txt"), "abc");
    rig.clickLoad();
    QTRY_VERIFY_WITH_TIMEOUT(rig.boxes.seen.size() == 2, 20000);
    QCOMPARE(rig.boxes.seen[1].text, QStringLiteral("Loading file process completed"));
}

void FaultsE2ETest::fileChangedWhileLoading_data()
{
    QTest::addColumn<int>("atMs");  // after Load: the length is taken at about 3.3 s, data from 4.3 s on
    QTest::addColumn<QString>("how");
    QTest::newRow("truncated after the length was taken") << 3800 << QStringLiteral("truncate");
    QTest::newRow("replaced before the stream") << 3800 << QStringLiteral("replace");
    QTest::newRow("truncated mid-stream") << 5300 << QStringLiteral("truncate");
}

void FaultsE2ETest::fileChangedWhileLoading()
{
    QFETCH(int, atMs);
    QFETCH(QString, how);
    E2ERig rig;
    QVERIFY(rig.start());
    rig.clickPanel(4);
    const QString path = rig.writeFile(QStringLiteral("label.prn"), QByteArray(200, 'a'));
    const QString other = rig.writeFile(QStringLiteral("other.prn"), QByteArray(200, 'b'));
    rig.form->Text1->setText(path);
    std::thread changer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(atMs));
        if (how == QStringLiteral("truncate"))
            QFile::resize(path, 100);
        else
            ::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData());  // as mv does
    });
    rig.clickLoad();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.boxes.seen.empty(), 15000);
    changer.join();
    QTest::qWait(500);
    const QStringList sent = rig.payloads();
    QVERIFY2(!sent.contains(QStringLiteral("#File#")), qPrintable(sent.join(u' ')));
    const qsizetype data = sent.size() - sent.indexOf(QStringLiteral("%200#")) - 1;
    QCOMPARE(rig.boxes.seen.size(), size_t(1));
    const QString text = rig.boxes.seen[0].text;
    QVERIFY2(text.startsWith(QStringLiteral("Error 75: ")) && text.contains(QStringLiteral(" %1 of 200 bytes sent").arg(data)),
             qPrintable(text));
    if (atMs < 4300)
        QCOMPARE(data, qsizetype(0));
    else
        QVERIFY2(data > 0 && text.contains(QStringLiteral("the slot holds an incomplete file")), qPrintable(text));
    QVERIFY(!rig.form->Timer2.isActive());
    QVERIFY(!rig.form->Command1->isHidden());
}

void FaultsE2ETest::blankBoxAndClosedPort()
{
    E2ERig rig;
    QVERIFY(rig.start());
    rig.form->Text1->setText(QStringLiteral("   "));
    rig.clickLoad();
    QTest::qWait(500);
    QVERIFY(rig.boxes.seen.empty());

    rig.form->Text1->setText(rig.writeFile(QStringLiteral("a.txt"), "a"));
    rig.clickLoad();  // never connected
    QTRY_VERIFY_WITH_TIMEOUT(!rig.boxes.seen.empty(), 5000);
    QTest::qWait(500);
    QCOMPARE(rig.boxes.seen.size(), size_t(1));
    QCOMPARE(rig.boxes.seen[0].text, QStringLiteral("Can't loaded without connection"));
    QCOMPARE(rig.boxes.seen[0].icon, QMessageBox::Critical);
    QCOMPARE(rig.boxes.seen[0].title, QStringLiteral("Pelmora"));
    QVERIFY(!rig.form->Command1->isHidden());
    QVERIFY(rig.payloads().isEmpty());
}

void FaultsE2ETest::deviceFrozenMidStreamIsNoCompletion()
{
    E2ERig rig;
    QVERIFY(rig.start());
    rig.clickPanel(4);
    // Its frames (5 bytes each) must overflow what a pseudo-terminal holds for a
    // reader that reads nothing (about 20 KB here), or they all "leave".
    rig.form->Text1->setText(rig.writeFile(QStringLiteral("big.bin"), QByteArray(5500, 'z')));
    const pid_t pid = static_cast<pid_t>(rig.emulator.processId());
    const std::shared_ptr<void> resume(nullptr, [pid](void*) { ::kill(pid, SIGCONT); });  // whatever happens
    std::jthread freezer([&] {
        if (rig.emulator.waitForFrames(3 + 120, 20000))  // poll, name, length, 120 bytes
            ::kill(pid, SIGSTOP);
    });
    rig.clickLoad();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.boxes.seen.empty(), 150000);
    freezer.join();
    ::kill(pid, SIGCONT);
    QTest::qWait(3000);
    QCOMPARE(rig.boxes.seen.size(), size_t(1));
    const QString text = rig.boxes.seen[0].text;
    QVERIFY2(text.startsWith(QStringLiteral("Error 8010: Hardware not available: the device stopped taking data")) &&
                 text.contains(QStringLiteral(" of 5500 bytes sent; the slot holds an incomplete file")),
             qPrintable(text));
    QVERIFY(!rig.form->MSComm1.PortOpen() && !rig.form->Timer1.isActive());
    // Resumed, it gets nothing more from this upload: no end of file, no release.
    QVERIFY(!rig.payloads().contains(QStringLiteral("#File#")) && !rig.payloads().contains(QStringLiteral("#End#")));
}

void FaultsE2ETest::unconfirmedReleaseEndsWithF5()
{
    E2ERig rig;
    QVERIFY(rig.start({QStringLiteral("--no-release")}));
    rig.clickPanel(4);
    rig.form->Text1->setText(rig.writeFile(QStringLiteral("ok.txt"), "ok"));
    QWindow* window = rig.form->windowHandle();
    // F5 during the third request's wait is handled when that wait ends.
    std::jthread presser([&] {
        for (int i = 0; i < 3000 && rig.payloads().count(QStringLiteral("#End#")) < 3; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        // The event is made on the window's thread: a key event made here would
        // create Qt's keyboard device on this thread, parentless and leaked.
        QMetaObject::invokeMethod(
            window,
            [window] {
                QCoreApplication::postEvent(window, new QKeyEvent(QEvent::KeyPress, Qt::Key_F5, Qt::NoModifier));
            },
            Qt::QueuedConnection);
    });
    rig.clickLoad();
    QTRY_COMPARE_WITH_TIMEOUT(rig.panel(3), QStringLiteral("Releasing... 3"), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(rig.boxes.seen.size() == 2, 10000);
    presser.join();
    QCOMPARE(rig.boxes.seen[1].text, QStringLiteral("The device did not confirm its release; the port is closed. "
                                                    "The file was sent to Externl1.ejf, but the device did not "
                                                    "confirm it; the slot may hold an incomplete file."));
    QVERIFY(!rig.form->MSComm1.PortOpen());
    QTest::qWait(2000);
    QCOMPARE(rig.payloads().count(QStringLiteral("#End#")), 3);
    QTest::keyClick(rig.form.get(), Qt::Key_F5);
    QCOMPARE(rig.panel(3), QStringLiteral("Connected :"));
}

QTEST_MAIN(FaultsE2ETest)
#include "tst_e2e_faults.moc"
