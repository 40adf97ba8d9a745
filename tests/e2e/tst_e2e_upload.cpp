// Loading label files end to end: the program, the real line, the emulator.

#include "E2ERig.h"
#include "FakeDialogs.h"
#include "window/StatusBar.h"

#include <QFile>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

namespace {

double timeOf(const QList<QJsonObject>& frames, const QString& payload, int from = 0)
{
    for (int i = from; i < frames.size(); ++i)
        if (frames[i].value(QStringLiteral("payload")).toString() == payload)
            return frames[i].value(QStringLiteral("t")).toDouble();
    return -1;
}

QByteArray received(const E2ERig& rig, const QString& slotFile)
{
    QFile f(rig.emulator.outDir() + QLatin1Char('/') + slotFile);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

}  // namespace

class UploadE2ETest : public QObject {
    Q_OBJECT

private slots:
    void threeLettersIntoSlot3();
    void everyByteValueArrivesIntact();
    void pacingOverTheRealLine();
    void completionMessageHeldOpenSendsNothing();
    void stopRequestsDuringTheWaits();
};

void UploadE2ETest::threeLettersIntoSlot3()
{
    E2ERig rig;
    QVERIFY(rig.start({QStringLiteral("--release-after"), QStringLiteral("2")}));
    rig.clickPanel(4);
    QCOMPARE(rig.panel(3), QStringLiteral("Connected :"));
    rig.form->Text1->setText(rig.writeFile(QStringLiteral("abc.txt"), "abc"));
    rig.form->Option1[2]->setChecked(true);
    rig.clickLoad();
    QVERIFY(rig.form->Command1->isHidden());
    QTRY_VERIFY_WITH_TIMEOUT(!rig.form->MSComm1.PortOpen(), 20000);

    QCOMPARE(rig.payloads(), QStringList({"S", "#Externl3.ejf#", "%3#", "97", "98", "99", "#File#", "#End#", "#End#"}));
    for (const QJsonObject& frame : rig.emulator.readFrames())
        QVERIFY2(frame.value(QStringLiteral("ok")).toBool(), qPrintable(frame.value(QStringLiteral("payload")).toString()));
    QCOMPARE(rig.boxes.seen.size(), size_t(1));
    QCOMPARE(rig.boxes.seen[0].text, QStringLiteral("Loading file process completed"));
    QCOMPARE(rig.boxes.seen[0].icon, QMessageBox::Information);
    // The box came after "#File#" and nothing went out while it was open.
    QVERIFY(rig.boxes.seen[0].framesAtOpen <= 7);
    QCOMPARE(rig.boxes.seen[0].framesAtClose, 7);
    QVERIFY(timeOf(rig.emulator.readFrames(), QStringLiteral("#End#")) > rig.boxes.seen[0].closedAt);
    QCOMPARE(received(rig, QStringLiteral("Externl3.ejf")), QByteArray("abc"));
    QVERIFY(!rig.form->Command1->isHidden());
    QVERIFY(!rig.form->Timer1.isActive());
    QVERIFY(!rig.form->Timer2.isActive());
    QCOMPARE(rig.panel(3), QStringLiteral("No Connection  :"));
}

void UploadE2ETest::everyByteValueArrivesIntact()
{
    E2ERig rig;
    QVERIFY(rig.start());
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(static_cast<char>(255 - i));
    rig.clickPanel(4);
    rig.form->Text1->setText(rig.writeFile(QStringLiteral("all.bin"), all));
    rig.form->Option1[4]->setChecked(true);
    rig.clickLoad();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.form->MSComm1.PortOpen(), 30000);
    QCOMPARE(received(rig, QStringLiteral("Externl5.ejf")).toHex(), all.toHex());
}

void UploadE2ETest::pacingOverTheRealLine()
{
    E2ERig rig;
    QVERIFY(rig.start());
    rig.clickPanel(4);
    rig.form->Text1->setText(rig.writeFile(QStringLiteral("250.bin"), QByteArray(250, 'x')));
    rig.clickLoad();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.form->MSComm1.PortOpen(), 30000);
    const auto frames = rig.emulator.readFrames();
    const double name = timeOf(frames, QStringLiteral("#Externl1.ejf#"));
    const double length = timeOf(frames, QStringLiteral("%250#"));
    const double firstData = timeOf(frames, QStringLiteral("120"));
    const double end = timeOf(frames, QStringLiteral("#File#"));
    QVERIFY(name > 0 && length > 0 && firstData > 0 && end > 0);
    // Lower bounds only. The emulator stamps a frame when it reads it, so a
    // reader that woke late for the earlier frame shortens a span; allow it
    // that much (exact pacing is checked from the sender's side elsewhere).
    constexpr double kReaderLateness = 0.05;
    QVERIFY2(length - name >= 2.0 - kReaderLateness, qPrintable(QString::number(length - name)));
    QVERIFY2(firstData - length >= 1.0 - kReaderLateness, qPrintable(QString::number(firstData - length)));
    QVERIFY2(end - firstData >= 3.78 - kReaderLateness, qPrintable(QString::number(end - firstData)));
    QCOMPARE(received(rig, QStringLiteral("Externl1.ejf")), QByteArray(250, 'x'));
}

void UploadE2ETest::completionMessageHeldOpenSendsNothing()
{
    E2ERig rig;
    QVERIFY(rig.start());
    rig.boxes.holdMs = 3000;
    rig.clickPanel(4);
    rig.form->Text1->setText(rig.writeFile(QStringLiteral("x.txt"), "xy"));
    rig.clickLoad();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.form->MSComm1.PortOpen(), 30000);
    QCOMPARE(rig.boxes.seen.size(), size_t(1));
    // Nothing reached the device while the box was open: what it had at the
    // close is the upload up to "#File#", and the release came after.
    QCOMPARE(rig.boxes.seen[0].framesAtClose, 6);
    QVERIFY(rig.boxes.seen[0].framesAtOpen <= 6);
    QVERIFY(timeOf(rig.emulator.readFrames(), QStringLiteral("#End#")) > rig.boxes.seen[0].closedAt);
    const QStringList payloads = rig.payloads();
    QCOMPARE(payloads.count(QStringLiteral("#File#")), 1);
    QCOMPARE(payloads.count(QStringLiteral("#Externl1.ejf#")), 1);
    QCOMPARE(payloads, QStringList({"S", "#Externl1.ejf#", "%2#", "120", "121", "#File#", "#End#"}));
}

void UploadE2ETest::stopRequestsDuringTheWaits()
{
    E2ERig rig;
    auto dialogs = std::make_shared<FakeDialogs>();
    QVERIFY(rig.start({}, [&](Seams& s) { s.dialogs = dialogs; }));
    Form1& form = *rig.form;
    QByteArray bytes;
    for (int i = 0; i < 300; ++i)
        bytes.append(static_cast<char>(i * 7));
    form.Text1->setText(rig.writeFile(QStringLiteral("label.bin"), bytes));
    QWindow* window = form.windowHandle();
    const QPoint picture = form.StatusBar1->mapTo(&form, form.StatusBar1->panelRect(4).center());

    // The device picture clicked while the slot name waits for its answer: no length, no data.
    rig.clickPanel(4);
    QTimer::singleShot(1000, &form, [&] { QTest::mouseClick(window, Qt::LeftButton, {}, picture); });
    rig.clickLoad();
    QTRY_VERIFY_WITH_TIMEOUT(!form.MSComm1.PortOpen(), 10000);
    // The device's "D" still waits in the line, so the first release may be repeated.
    const QStringList stopped = rig.payloads();
    QCOMPARE(stopped.mid(0, 3), QStringList({"S", "#Externl1.ejf#", "#End#"}));
    QCOMPARE(stopped.filter(QStringLiteral("#End#")).size(), stopped.size() - 2);

    // In the stream: Escape answered No goes on, F5 answered Yes stops before the next frame.
    rig.clickPanel(4);
    dialogs->questionAnswers = {false, true};
    QTimer during;
    int asked = 0;
    connect(&during, &QTimer::timeout, &form, [&] {
        const int value = form.ProgressBar1->value();
        if ((asked == 0 && value >= 100) || (asked == 1 && value >= 200))
            QTest::keyClick(window, asked++ == 0 ? Qt::Key_Escape : Qt::Key_F5);
    });
    during.start(20);
    rig.clickLoad();
    QTRY_VERIFY_WITH_TIMEOUT(!dialogs->messages.isEmpty(), 20000);
    during.stop();
    QTest::qWait(500);
    const QStringList sent = rig.payloads();
    const qsizetype first = sent.lastIndexOf(QStringLiteral("%300#")) + 1;
    const QStringList data = sent.mid(first);
    QCOMPARE(dialogs->questions.size(), 2);
    QVERIFY2(data.size() >= 200 && data.size() < 300, qPrintable(sent.join(u' ')));
    for (qsizetype i = 0; i < data.size(); ++i)
        QCOMPARE(data[i].toInt(), static_cast<unsigned char>(bytes[i]) + 0);
    QCOMPARE(dialogs->messages.constLast().text,
             QStringLiteral("Loading stopped: %1 of 300 bytes sent; the slot holds an incomplete file; load the file again").arg(data.size()));
    QVERIFY(form.MSComm1.PortOpen());
    QCOMPARE(rig.panel(3), QStringLiteral("Connected :"));

    // The next Load starts clean and streams the whole file.
    rig.clickLoad();
    QTRY_VERIFY_WITH_TIMEOUT(!form.MSComm1.PortOpen(), 20000);
    QCOMPARE(dialogs->messages.constLast().text, QStringLiteral("Loading file process completed"));
    QCOMPARE(received(rig, QStringLiteral("Externl1.ejf")), bytes);
}

QTEST_MAIN(UploadE2ETest)
#include "tst_e2e_upload.moc"
