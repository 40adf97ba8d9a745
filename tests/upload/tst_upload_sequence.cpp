// The staged upload and the byte stream in virtual time: exactly which frames
// go out, which waits are asked for after which frame, and how failures end.

#include "Form1.h"
#include "VirtualDevice.h"
#include "window/StatusBar.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

namespace {

struct Rig {
    VirtualSeams v;
    QTemporaryDir dir;
    std::unique_ptr<Form1> form;

    Rig()
    {
        form = std::make_unique<Form1>(v.seams());
        form->Form_Load();
    }

    QString makeFile(const QByteArray& bytes, const QString& name = QStringLiteral("label.ejf"))
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(bytes);
        return path;
    }

    void connect()
    {
        form->StatusBar1_PanelClick(form->StatusBar1->Panels(4));
        QCOMPARE_NE(form->FileStage, VbFalse);
        v.timeline->events.clear();
    }

    void load(const QString& path, int slot = 0)
    {
        form->Text1->setText(path);
        form->Option1[size_t(slot)]->setChecked(true);
        form->Command1_Click();
    }

    QString panel(int n) const { return form->StatusBar1->Panels(n)->Text(); }
    QString tip(int n) const { return form->StatusBar1->Panels(n)->ToolTipText(); }
    int fileFrames() const { return int(v.timeline->payloads().count(QStringLiteral("#File#"))); }
};

// The timeline as text: "W:payload" for a frame, "S:seconds" for a wait.
QStringList trace(const Timeline& t)
{
    QStringList out;
    for (const TimelineEvent& e : t.events) {
        if (e.kind == TimelineEvent::Kind::Write)
            out << QStringLiteral("W:") + QString::fromLatin1(e.bytes.left(e.bytes.size() - 2));
        else if (e.kind == TimelineEvent::Kind::Wait)
            out << QStringLiteral("S:") + QString::number(e.seconds);
    }
    return out;
}

// What the stream of these bytes must look like from its first wait to "#File#".
QStringList expectedStream(const QByteArray& bytes)
{
    QStringList out{QStringLiteral("S:1")};
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        out << QStringLiteral("W:%1").arg(static_cast<unsigned char>(bytes[i])) << QStringLiteral("S:0.015");
        if ((i + 1) % 100 == 0)
            out << QStringLiteral("S:0.015");
    }
    out << QStringLiteral("W:#File#");
    return out;
}

QByteArray patterned(int n)
{
    QByteArray b;
    for (int i = 0; i < n; ++i)
        b.append(static_cast<char>((i * 37 + 11) & 0xFF));
    return b;
}

}  // namespace

class UploadSequenceTest : public QObject {
    Q_OBJECT

private slots:
    void wholeUploadRunsInOneTickWhenTheDeviceAnswersAtOnce();
    void pacingAfterEveryFrameAndEveryHundredth_data();
    void pacingAfterEveryFrameAndEveryHundredth();
    void longFileCountsPast32767();
    void repeatsSendWhatLoadCheckedOrEndTheUpload();
    void disconnectDuringNameStageKeepsTheFlag();
    void blankBoxAndClosedPort();
    void noSecondStreamWhileTheCompletionMessageIsOpen();
    void loadDuringAPendingReleaseIsRefused();
    void fileThatVanishesIsReportedOnceAndTheSequenceEnds();
    void lineFailureMidStreamIsReportedOnceAndReconnectWorks();
    void streamTheDeviceDidNotTakeIsNoCompletion();
    void badFilesAreRefusedBeforeAnythingIsSent();
    void doubleClickOnTheIndicatorConnectsOnce();
    void theBarTellsHowLongTheStreamStillTakes();
    void emptyFileAndFileThatGrew();
    void pollRepliesAreJudgedByTheirFirstCharacterExactly_data();
    void pollRepliesAreJudgedByTheirFirstCharacterExactly();
};

void UploadSequenceTest::wholeUploadRunsInOneTickWhenTheDeviceAnswersAtOnce()
{
    Rig rig;
    rig.connect();
    rig.load(rig.makeFile("abc"), 2);
    QVERIFY(rig.form->Command1->isHidden());
    QVERIFY(rig.form->Timer2.isActive());

    int valueAtMessage = -1;
    int drainsAtMessage = -1;
    QStringList traceAtMessage;
    rig.v.dialogs->onMessage = [&](const QString&) {
        valueAtMessage = rig.form->ProgressBar1->value();
        traceAtMessage = trace(*rig.v.timeline);
        drainsAtMessage = rig.v.script->drains;
    };
    rig.form->Timer2_Timer();

    QStringList expected{QStringLiteral("W:#Externl3.ejf#"), QStringLiteral("S:2"), QStringLiteral("W:%3#"),
                         QStringLiteral("S:1")};
    expected += expectedStream("abc");
    QCOMPARE(trace(*rig.v.timeline), expected);
    QCOMPARE(traceAtMessage, expected);  // the message comes after "#File#", before the release
    QCOMPARE(drainsAtMessage, 1);        // and only once the frames have left the machine
    QCOMPARE(rig.form->DeviceFileName, QStringLiteral("Externl3.ejf"));
    QCOMPARE(rig.form->FileLength, 3);

    QCOMPARE(rig.v.dialogs->messages.size(), 1);
    QCOMPARE(rig.v.dialogs->messages[0].text, QStringLiteral("Loading file process completed"));
    QCOMPARE(rig.v.dialogs->messages[0].icon, OperatorDialogs::Icon::Information);
    QCOMPARE(valueAtMessage, 3);
    QCOMPARE(rig.form->ProgressBar1->maximum(), 3);

    // Finished, and the release is pending.
    QCOMPARE(rig.form->FileStage, VbFalse);
    QCOMPARE(rig.form->LengthStage, VbFalse);
    QCOMPARE(rig.form->LoadStage, VbFalse);
    QVERIFY(!rig.form->Timer2.isActive());
    QVERIFY(rig.form->Timer1.isActive());
    QVERIFY(!rig.form->Command1->isHidden());
    QCOMPARE(rig.form->ProgressBar1->value(), 0);
    QCOMPARE(rig.panel(3), QStringLiteral("No Connection  :"));
    QCOMPARE(rig.tip(4), QStringLiteral("No Connection"));
    QVERIFY(rig.form->MSComm1.PortOpen());

    rig.v.timeline->events.clear();
    rig.form->Timer1_Timer();
    QCOMPARE(trace(*rig.v.timeline), QStringList({QStringLiteral("W:#End#"), QStringLiteral("S:1.8")}));
    QVERIFY(!rig.form->MSComm1.PortOpen());
    QVERIFY(!rig.form->Timer1.isActive());
}

void UploadSequenceTest::pacingAfterEveryFrameAndEveryHundredth_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("extraPauses");
    QTest::newRow("empty") << 0 << 0;
    QTest::newRow("99") << 99 << 0;
    QTest::newRow("100") << 100 << 1;
    QTest::newRow("250") << 250 << 2;
}

void UploadSequenceTest::pacingAfterEveryFrameAndEveryHundredth()
{
    QFETCH(int, size);
    QFETCH(int, extraPauses);
    Rig rig;
    rig.connect();
    const QByteArray bytes = patterned(size);
    rig.load(rig.makeFile(bytes));
    rig.form->Timer2_Timer();

    const QStringList all = trace(*rig.v.timeline);
    const qsizetype start = all.indexOf(QStringLiteral("W:%%1#").arg(size));
    QVERIFY(start >= 0);
    QCOMPARE(all.mid(start + 2, all.indexOf(QStringLiteral("W:#File#")) - start - 1), expectedStream(bytes));
    const auto waits = rig.v.timeline->waits();
    QCOMPARE(int(std::count(waits.begin(), waits.end(), 0.015)), size + extraPauses);
}

void UploadSequenceTest::longFileCountsPast32767()
{
    Rig rig;
    rig.connect();
    const QByteArray bytes = patterned(40000);
    rig.load(rig.makeFile(bytes));
    int valueAtMessage = -1;
    rig.v.dialogs->onMessage = [&](const QString&) { valueAtMessage = rig.form->ProgressBar1->value(); };
    rig.form->Timer2_Timer();

    const QStringList payloads = rig.v.timeline->payloads();
    const qsizetype first = payloads.indexOf(QStringLiteral("%40000#")) + 1;
    QCOMPARE(payloads.size() - first, qsizetype(40001));
    for (int i = 0; i < 40000; ++i)
        QCOMPARE(payloads[first + i].toInt(), static_cast<unsigned char>(bytes[i]) + 0);
    const auto waits = rig.v.timeline->waits();
    QCOMPARE(int(std::count(waits.begin(), waits.end(), 0.015)), 40000 + 400);
    QCOMPARE(rig.form->ProgressBar1->maximum(), 40000);
    QCOMPARE(valueAtMessage, 40000);
}

void UploadSequenceTest::repeatsSendWhatLoadCheckedOrEndTheUpload()
{
    Rig rig;
    rig.connect();
    rig.v.script->replies[QStringLiteral("name")] = QString();
    const QString path = rig.makeFile("abc");
    const QString other = rig.makeFile("other file", QStringLiteral("other.ejf"));
    rig.load(path);
    // What the operator does while the slot name waits for its answer changes nothing that goes out.
    rig.v.script->onFrame = [&](const QByteArray& payload) {
        if (!payload.startsWith("#Externl"))
            return;
        QTest::keyClicks(rig.form->Text1, QStringLiteral("x"));
        rig.form->Text1->setFocus();
        QTest::mouseClick(rig.form->Option1[2], Qt::LeftButton);
    };
    rig.form->Timer2_Timer();
    rig.v.script->replies.remove(QStringLiteral("name"));
    rig.v.script->replies[QStringLiteral("length")] = QString();  // its "U" comes after the read
    rig.form->Timer2_Timer();
    QCOMPARE(rig.form->Text1->text(), path);
    QVERIFY(rig.form->Option1[0]->isChecked());
    QCOMPARE(rig.v.timeline->payloads(), QStringList({"#Externl1.ejf#", "#Externl1.ejf#", "%3#"}));

    // The late "U" waits in the line; the file changed, so the repeat is not sent and nothing streams.
    rig.v.script->onFrame = {};
    rig.v.script->replies[QStringLiteral("length")] = QStringLiteral("U");
    QVERIFY(QFile::remove(path) && QFile::rename(other, path));
    QTRY_VERIFY_WITH_TIMEOUT(!rig.v.dialogs->messages.empty(), 5000);
    QCOMPARE(rig.v.timeline->payloads(), QStringList({"#Externl1.ejf#", "#Externl1.ejf#", "%3#"}));
    QCOMPARE(rig.v.dialogs->messages[0].text,
             QStringLiteral("Error 75: Path/File access error: \"%1\" changed after Load was pressed; nothing of it "
                            "was sent, load it again")
                 .arg(path));
    QVERIFY(!rig.form->Timer2.isActive());
    QVERIFY(!rig.form->Text1->isReadOnly() && rig.form->Option1[2]->isEnabled());
}

void UploadSequenceTest::disconnectDuringNameStageKeepsTheFlag()
{
    Rig rig;
    rig.connect();
    rig.v.script->replies[QStringLiteral("name")] = QString();
    rig.load(rig.makeFile("abc"));
    rig.form->Timer2_Timer();
    QCOMPARE(rig.form->FileStage, VbTrue);
    rig.form->StatusBar1_PanelClick(rig.form->StatusBar1->Panels(4));
    QVERIFY(!rig.form->Timer2.isActive());
    QVERIFY(rig.form->Timer1.isActive());
    QVERIFY(!rig.form->Command1->isHidden());
    QCOMPARE(rig.form->FileStage, VbTrue);
    QCOMPARE(rig.panel(3), QStringLiteral("No Connection  :"));
}

void UploadSequenceTest::blankBoxAndClosedPort()
{
    Rig rig;
    rig.form->Text1->setText(QStringLiteral("   "));
    rig.form->Command1->click();
    QVERIFY(rig.v.dialogs->messages.empty());
    QVERIFY(!rig.form->Command1->isHidden());

    rig.form->Text1->setText(rig.makeFile("abc"));
    rig.form->Command1->click();  // the port is closed
    QCOMPARE(rig.v.dialogs->messages.size(), 1);
    QCOMPARE(rig.v.dialogs->messages[0].text, QStringLiteral("Can't loaded without connection"));
    QCOMPARE(rig.v.dialogs->messages[0].icon, OperatorDialogs::Icon::Error);
    QVERIFY(!rig.form->Command1->isHidden());
    QVERIFY(!rig.form->Timer2.isActive());
    QCOMPARE(rig.form->FileStage, VbFalse);
    QVERIFY(rig.v.timeline->writes().empty());
}

void UploadSequenceTest::noSecondStreamWhileTheCompletionMessageIsOpen()
{
    Rig rig;
    rig.connect();
    rig.load(rig.makeFile("abc"));
    size_t writesAtMessage = 0;
    rig.v.dialogs->onMessage = [&](const QString& text) {
        if (text != QStringLiteral("Loading file process completed"))
            return;
        writesAtMessage = rig.v.timeline->writes().size();
        // Both timers are due many times over while the box is open.
        QTest::qWait(1500);
        QCOMPARE(rig.v.timeline->writes().size(), writesAtMessage);
    };
    QTRY_VERIFY_WITH_TIMEOUT(rig.v.dialogs->messages.size() == 1, 5000);
    QVERIFY(writesAtMessage > 0);
    QCOMPARE(rig.fileFrames(), 1);
    QCOMPARE(rig.v.timeline->payloads().count(QStringLiteral("#Externl1.ejf#")), 1);
    QTest::qWait(700);
    QCOMPARE(rig.fileFrames(), 1);
}

void UploadSequenceTest::loadDuringAPendingReleaseIsRefused()
{
    Rig rig;
    rig.connect();
    rig.v.script->replies[QStringLiteral("end")] = QString();  // the device does not release yet
    rig.form->StatusBar1_PanelClick(rig.form->StatusBar1->Panels(4));
    QVERIFY(rig.form->Timer1.isActive());
    QVERIFY(rig.form->MSComm1.PortOpen());
    rig.v.timeline->events.clear();

    rig.load(rig.makeFile("abc"));
    QCOMPARE(rig.v.dialogs->messages.size(), 1);
    QCOMPARE(rig.v.dialogs->messages[0].text, QStringLiteral("Can't loaded without connection"));
    QCOMPARE(rig.v.dialogs->messages[0].icon, OperatorDialogs::Icon::Error);
    QVERIFY(!rig.form->Timer2.isActive());
    QVERIFY(!rig.form->Command1->isHidden());
    QVERIFY(rig.v.timeline->writes().empty());
}

void UploadSequenceTest::fileThatVanishesIsReportedOnceAndTheSequenceEnds()
{
    Rig rig;
    rig.connect();
    const QString path = rig.makeFile("abc");
    rig.v.script->onFrame = [&](const QByteArray& payload) {
        if (payload.startsWith("#Externl"))
            QFile::remove(path);
    };
    rig.load(path);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.v.dialogs->messages.empty(), 5000);
    QTest::qWait(1000);  // later ticks must not report again
    QCOMPARE(rig.v.dialogs->messages.size(), 1);
    QCOMPARE(rig.v.dialogs->messages[0].text, QStringLiteral("Error 53: File not found: \"%1\"").arg(path));
    QCOMPARE(rig.v.dialogs->messages[0].icon, OperatorDialogs::Icon::Error);
    QVERIFY(!rig.form->Timer2.isActive());
    QVERIFY(!rig.form->Command1->isHidden());
    QCOMPARE(rig.form->LengthStage, VbTrue);  // the flags as they were
    QCOMPARE(rig.v.timeline->payloads(), QStringList({"#Externl1.ejf#"}));
    QVERIFY(rig.form->MSComm1.PortOpen());

    // Put the file back and load again: it goes through.
    rig.v.script->onFrame = {};
    rig.makeFile("xyz");
    rig.form->Command1->click();
    QTRY_VERIFY_WITH_TIMEOUT(rig.v.dialogs->messages.size() == 2, 5000);
    QCOMPARE(rig.v.dialogs->messages[1].text, QStringLiteral("Loading file process completed"));
}

void UploadSequenceTest::lineFailureMidStreamIsReportedOnceAndReconnectWorks()
{
    Rig rig;
    rig.connect();
    rig.v.script->failAfterWrites = 2 + 50;  // name, length, then 50 data frames
    rig.load(rig.makeFile(patterned(300)));
    QTRY_VERIFY_WITH_TIMEOUT(!rig.v.dialogs->messages.empty(), 5000);
    QTest::qWait(1000);
    QCOMPARE(rig.v.dialogs->messages.size(), 1);
    QVERIFY2(rig.v.dialogs->messages[0].text.startsWith(QStringLiteral("Error 8010: ")),
             qPrintable(rig.v.dialogs->messages[0].text));
    QVERIFY(!rig.form->Timer2.isActive());
    QVERIFY(!rig.form->Timer1.isActive());
    QVERIFY(!rig.form->Command1->isHidden());
    QVERIFY(!rig.form->MSComm1.PortOpen());
    QCOMPARE(rig.panel(3), QStringLiteral("No Connection  :"));
    QCOMPARE(rig.tip(4), QStringLiteral("No Connection"));
    QCOMPARE(rig.fileFrames(), 0);
    QVERIFY2(rig.v.dialogs->messages[0].text.endsWith(
                 QStringLiteral("; 49 of 300 bytes sent; the slot holds an incomplete file; load it again")),
             qPrintable(rig.v.dialogs->messages[0].text));

    rig.v.script->failAfterWrites = 0;
    rig.connect();
    rig.load(rig.makeFile("ok"));
    QTRY_VERIFY_WITH_TIMEOUT(rig.v.dialogs->messages.size() == 2, 5000);
    QCOMPARE(rig.v.dialogs->messages[1].text, QStringLiteral("Loading file process completed"));
    QCOMPARE(rig.v.timeline->payloads().mid(2, 3), QStringList({"111", "107", "#File#"}));
}

void UploadSequenceTest::streamTheDeviceDidNotTakeIsNoCompletion()
{
    Rig rig;
    rig.connect();
    rig.v.script->stuckAfterDrain = 8 + 3 * 5;  // "#File#" and three frames of "122"
    rig.load(rig.makeFile(QByteArray(10, 'z')));
    QTRY_VERIFY_WITH_TIMEOUT(!rig.v.dialogs->messages.empty(), 5000);
    QTest::qWait(700);
    QCOMPARE(rig.v.dialogs->messages.size(), 1);
    QCOMPARE(rig.v.dialogs->messages[0].text,
             QStringLiteral("Error 8010: Hardware not available: the device stopped taking data; at most 7 of 10 bytes "
                            "reached the device; 23 bytes still queued for the line were dropped; the slot may hold an "
                            "incomplete file; load it again"));
    QCOMPARE(rig.v.script->stuckAfterDrain, 0);  // dropped, not left for the device
    QVERIFY(!rig.form->MSComm1.PortOpen() && !rig.form->Timer1.isActive() && !rig.form->Command1->isHidden());
}

void UploadSequenceTest::badFilesAreRefusedBeforeAnythingIsSent()
{
    Rig rig;
    rig.connect();
    const QString huge = rig.dir.filePath(QStringLiteral("huge.ejf"));
    {
        QFile f(huge);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(qint64(2147483647) + 1));  // sparse: takes no disk
    }
    const QString missing = rig.makeFile("abc") + QLatin1Char(' ');  // a blank after the name
    const QString folder = rig.dir.path();
    // Opening a FIFO would wait for a writer: the click must come back at once.
    const QString fifo = rig.dir.filePath(QStringLiteral("label.fifo"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString proc = QStringLiteral("/proc/self/status");
    for (const QString& path : {folder, missing, huge, fifo, QStringLiteral("/dev/zero"), proc}) {
        rig.form->Text1->setText(path);
        rig.form->Command1->click();
    }

    const auto& messages = rig.v.dialogs->messages;
    QCOMPARE(messages.size(), 6);
    QCOMPARE(messages[3].text, QStringLiteral("Error 75: Path/File access error: \"%1\" is not a regular file (a FIFO)").arg(fifo));
    QCOMPARE(messages[4].text, QStringLiteral("Error 75: Path/File access error: \"/dev/zero\" is not a regular file (a character device)"));
    QVERIFY2(messages[5].text.startsWith(QStringLiteral("Error 75: Path/File access error: \"%1\" is not a regular file").arg(proc)), qPrintable(messages[5].text));
    QCOMPARE(messages[0].text, QStringLiteral("Error 75: Path/File access error: \"%1\" is a folder").arg(folder));
    QCOMPARE(messages[1].text, QStringLiteral("Error 53: File not found: \"%1\"").arg(missing));
    QVERIFY2(messages[2].text.startsWith(QStringLiteral("Error 6: Overflow: \"%1\"").arg(huge)), qPrintable(messages[2].text));
    QVERIFY(rig.v.timeline->writes().empty());
    QVERIFY(!rig.form->Timer2.isActive());
    QVERIFY(!rig.form->Command1->isHidden());
}

void UploadSequenceTest::doubleClickOnTheIndicatorConnectsOnce()
{
    Rig rig;
    rig.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.form.get()));
    StatusBar* bar = rig.form->StatusBar1;
    // What the platform delivers for a double-click: the second press comes as a double-click.
    const QPoint at = bar->panelRect(4).center();
    QTest::mousePress(bar, Qt::LeftButton, {}, at);
    QTest::mouseRelease(bar, Qt::LeftButton, {}, at);
    QTest::mouseDClick(bar, Qt::LeftButton, {}, at);
    QTest::mouseRelease(bar, Qt::LeftButton, {}, at);
    QCOMPARE(rig.v.timeline->payloads(), QStringList({"S"}));
    QCOMPARE(rig.panel(3), QStringLiteral("Connected :"));
    QVERIFY(!rig.form->Timer1.isActive());
}

void UploadSequenceTest::theBarTellsHowLongTheStreamStillTakes()
{
    Rig rig;
    rig.connect();
    rig.load(rig.makeFile(patterned(1000)));
    QString textAt500;
    rig.v.script->onFrame = [&](const QByteArray&) {
        if (rig.form->ProgressBar1->value() == 499 && textAt500.isEmpty())
            textAt500 = rig.form->ProgressBar1->text();
    };
    bool textAtMessage = true;
    rig.v.dialogs->onMessage = [&](const QString&) { textAtMessage = rig.form->ProgressBar1->isTextVisible(); };
    rig.form->Timer2_Timer();
    // 501 bytes and 6 extra pauses to come, 0.015 s each: 7.6 s.
    QCOMPARE(textAt500, QStringLiteral("49 % \u00b7 0:08 left"));
    QVERIFY(!textAtMessage);
}

void UploadSequenceTest::emptyFileAndFileThatGrew()
{
    Rig rig;
    rig.connect();
    rig.form->ProgressBar1->setMaximum(100);
    rig.load(rig.makeFile(QByteArray()));
    int maxAtMessage = -1;
    rig.v.dialogs->onMessage = [&](const QString&) { maxAtMessage = rig.form->ProgressBar1->maximum(); };
    rig.form->Timer2_Timer();
    QCOMPARE(rig.v.timeline->payloads(), QStringList({"#Externl1.ejf#", "%0#", "#File#"}));
    QVERIFY(maxAtMessage > 0);  // no busy bar
    QCOMPARE(rig.v.dialogs->messages.back().text, QStringLiteral("Loading file process completed"));

    // A file that grows after its length was announced is a changed file: no data, no "#File#".
    Rig grown;
    grown.connect();
    const QString path = grown.makeFile("ab");
    grown.v.script->onFrame = [&](const QByteArray& payload) {
        if (payload.startsWith('%'))
            grown.makeFile("abcdef");
    };
    grown.load(path);
    QVERIFY_THROWS_EXCEPTION(PelmoraError, grown.form->Timer2_Timer());
    QCOMPARE(grown.v.timeline->payloads(), QStringList({"#Externl1.ejf#", "%2#"}));
}

void UploadSequenceTest::pollRepliesAreJudgedByTheirFirstCharacterExactly_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("connects");
    QTest::newRow("S") << "S" << true;
    QTest::newRow("Sxyz") << "Sxyz" << true;
    QTest::newRow("xS") << "xS" << false;
    QTest::newRow("s") << "s" << false;
    QTest::newRow("nothing") << "" << false;
}

void UploadSequenceTest::pollRepliesAreJudgedByTheirFirstCharacterExactly()
{
    QFETCH(QString, reply);
    QFETCH(bool, connects);
    Rig rig;
    rig.v.script->replies[QStringLiteral("poll")] = reply;
    rig.form->StatusBar1_PanelClick(rig.form->StatusBar1->Panels(4));
    const QStringList payloads = rig.v.timeline->payloads();
    QCOMPARE(payloads.size(), connects ? 1 : 10);
    QCOMPARE(rig.form->MSComm1.PortOpen(), connects);
    QCOMPARE(rig.panel(3), connects ? QStringLiteral("Connected :") : QStringLiteral("No Connection  :"));
    QCOMPARE(rig.tip(4), connects ? QStringLiteral("Connection OK") : QStringLiteral("No Connection"));
    QCOMPARE(rig.form->FileStage, connects ? VbTrue : VbFalse);
    // Polls a second apart.
    QCOMPARE(rig.v.timeline->waits(), std::vector<double>(size_t(payloads.size()), 1.0));
}

QTEST_MAIN(UploadSequenceTest)
#include "tst_upload_sequence.moc"
