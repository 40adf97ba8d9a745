// Connecting and releasing against the emulator over a real line.

#include "E2ERig.h"

#include <QJsonObject>
#include <QTest>

class ConnectionE2ETest : public QObject {
    Q_OBJECT

private slots:
    void firstPollAnswered();
    void replyThatStartsWithSConnects();
    void deviceThatNeverAnswersGetsTenPolls();
    void releaseIsRepeatedUntilConfirmed();
};

void ConnectionE2ETest::firstPollAnswered()
{
    E2ERig rig;
    QVERIFY2(rig.start(), qPrintable(rig.emulator.errorString()));
    QCOMPARE(rig.tip(4), QStringLiteral("No Connection"));
    rig.clickPanel(4);
    QCOMPARE(rig.panel(3), QStringLiteral("Connected :"));
    QCOMPARE(rig.tip(4), QStringLiteral("Connection OK"));
    QCOMPARE(rig.form->FileStage, VbTrue);
    QVERIFY(rig.form->MSComm1.PortOpen());
    // Opened with the start-up settings, whatever the settings frame shows.
    QCOMPARE(rig.form->MSComm1.Settings(), QStringLiteral("9600,n,8,1"));
    QVERIFY(rig.emulator.waitForFrames(1));
    const auto frames = rig.emulator.readFrames();
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames[0].value(QStringLiteral("payload")).toString(), QStringLiteral("S"));
    QVERIFY(frames[0].value(QStringLiteral("ok")).toBool());
    QCOMPARE(frames[0].value(QStringLiteral("reply")).toString(), QStringLiteral("S"));
    QVERIFY(rig.boxes.seen.empty());
}

void ConnectionE2ETest::replyThatStartsWithSConnects()
{
    E2ERig rig;
    QVERIFY(rig.start({QStringLiteral("--reply"), QStringLiteral("poll=Sxyz")}));
    rig.clickPanel(3);  // panel 3 reads "No Connection  :" and connects too
    QCOMPARE(rig.panel(3), QStringLiteral("Connected :"));
    QCOMPARE(rig.payloads(), QStringList({"S"}));
}

void ConnectionE2ETest::deviceThatNeverAnswersGetsTenPolls()
{
    E2ERig rig;
    QVERIFY(rig.start({QStringLiteral("--silent")}));
    rig.clickPanel(4);
    QCOMPARE(rig.panel(3), QStringLiteral("No Connection  :"));
    QCOMPARE(rig.tip(4), QStringLiteral("No Connection"));
    QVERIFY(!rig.form->MSComm1.PortOpen());
    QCOMPARE(rig.form->FileStage, VbFalse);
    QVERIFY(rig.emulator.waitForFrames(10));
    QTest::qWait(300);
    const auto frames = rig.emulator.readFrames();
    QCOMPARE(frames.size(), 10);
    const auto t = [&](int i) { return frames[i].value(QStringLiteral("t")).toDouble(); };
    for (int i = 1; i < frames.size(); ++i) {
        // A second apart, less what a late reader of the line can shave off one gap.
        QVERIFY2(t(i) - t(i - 1) > 0.8, qPrintable(QString::number(t(i) - t(i - 1))));
    }
    QVERIFY2(t(9) - t(0) >= 9.0 - 0.05, qPrintable(QString::number(t(9) - t(0))));
    QVERIFY(rig.boxes.seen.empty());
}

void ConnectionE2ETest::releaseIsRepeatedUntilConfirmed()
{
    E2ERig rig;
    QVERIFY(rig.start({QStringLiteral("--release-after"), QStringLiteral("3")}));
    rig.clickPanel(4);
    QCOMPARE(rig.tip(4), QStringLiteral("Connection OK"));
    rig.clickPanel(4);  // disconnect
    QCOMPARE(rig.panel(3), QStringLiteral("No Connection  :"));
    QCOMPARE(rig.tip(4), QStringLiteral("No Connection"));
    QVERIFY(rig.form->Timer1.isActive());
    QVERIFY(rig.form->MSComm1.PortOpen());  // open until the device confirms
    QTRY_VERIFY_WITH_TIMEOUT(!rig.form->MSComm1.PortOpen(), 15000);
    QVERIFY(!rig.form->Timer1.isActive());
    QCOMPARE(rig.payloads(), QStringList({"S", "#End#", "#End#", "#End#"}));
    const auto frames = rig.emulator.readFrames();
    QCOMPARE(frames.back().value(QStringLiteral("reply")).toString(), QStringLiteral("T"));
}

QTEST_MAIN(ConnectionE2ETest)
#include "tst_e2e_connection.moc"
