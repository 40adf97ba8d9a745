// The port scan at start-up over real pseudo-terminals named through
// PELMORA_PORTS, and its trap rule with scripted refusals; the port list that
// follows the cable, through a fake system list whose devices are real
// pseudo-terminals.

#include "EmulatorProcess.h"
#include "FakeDialogs.h"
#include "Form1.h"
#include "Pty.h"
#include "window/StatusBar.h"

#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <optional>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <stdexcept>
#include <unistd.h>

namespace {

// Every open asked for, the number it failed with (0: opened) and the text.
struct OpenRecord {
    QList<int> ports;
    QList<int> results;
    QStringList texts;
};

LineOpener recording(const std::shared_ptr<OpenRecord>& record, LineOpener real)
{
    return [record, real](short port, const LineSettings& settings) {
        record->ports << port;
        try {
            auto line = real(port, settings);
            record->results << 0;
            record->texts << QString();
            return line;
        } catch (const PelmoraError& e) {
            record->results << e.number();
            record->texts << e.text();
            throw;
        }
    };
}

// A pseudo-terminal whose far side was never unlocked: opening it fails with
// an I/O error, as a port with no hardware behind it does.
class LockedPty {
public:
    LockedPty() : master_(::posix_openpt(O_RDWR | O_NOCTTY))
    {
        if (master_ >= 0 && ::grantpt(master_) == 0)
            path_ = QString::fromLocal8Bit(::ptsname(master_));
    }
    ~LockedPty()
    {
        if (master_ >= 0)
            ::close(master_);
    }
    LockedPty(const LockedPty&) = delete;
    LockedPty& operator=(const LockedPty&) = delete;
    const QString& slavePath() const { return path_; }

private:
    int master_;
    QString path_;
};

// The system's list of serial devices as a test sets it.
struct FakeList {
    std::shared_ptr<QList<PortDirectory::Device>> now = std::make_shared<QList<PortDirectory::Device>>();
    PortDirectory::Lister lister() const
    {
        return [list = now] { return *list; };
    }
};

PortDirectory::Device adapter(const Pty& pty, const QString& serial)
{
    return {pty.slavePath(), {0x0403, 0x6001, serial, QStringLiteral("FT232R USB UART")}};
}

class IdleLine final : public SerialLine {
public:
    void write(const QByteArray&) override {}
    QByteArray readAvailable() override { return {}; }
    void drain(double) override {}
    qint64 outputQueued() override { return 0; }
};

struct Rig {
    std::shared_ptr<FakeDialogs> dialogs = std::make_shared<FakeDialogs>();
    std::shared_ptr<OpenRecord> record = std::make_shared<OpenRecord>();
    std::unique_ptr<Form1> form;

    explicit Rig(LineOpener opener = {}, PortDirectory::Lister systemPorts = PortDirectory::systemPorts)
    {
        Seams seams = Seams::production(std::move(systemPorts));
        seams.dialogs = dialogs;
        seams.openLine = opener ? std::move(opener) : recording(record, seams.openLine);
        form = std::make_unique<Form1>(std::move(seams));
        form->Form_Load();
    }

    // A click on status panel n: 1 and 2 show the settings frame, 4 connects.
    void clickPanel(int n) { form->StatusBar1_PanelClick(form->StatusBar1->Panels(n)); }

    // The numbered error that opening the port ends in; nothing when it opened.
    std::optional<PelmoraError> openingError()
    {
        try {
            form->PortAç();
        } catch (const PelmoraError& e) {
            return e;
        }
        return std::nullopt;
    }

    QStringList listed() const
    {
        QStringList out;
        for (int i = 0; i < form->Combo1->count(); ++i)
            out << form->Combo1->itemText(i);
        return out;
    }
};

void setPorts(const QStringList& paths)
{
    qputenv("PELMORA_PORTS", paths.join(QLatin1Char(',')).toLocal8Bit());
}

// Another program takes the device the way terminal programs do, with flock.
bool holdWithFlock(QProcess& holder, const QString& path)
{
    holder.start(QStringLiteral("sh"), {QStringLiteral("-c"),
                                        QStringLiteral("exec 9<\"$1\" && flock -x 9 && echo held && exec sleep 60"),
                                        QStringLiteral("sh"), path});
    return holder.waitForReadyRead(5000) && holder.readLine().trimmed() == "held";
}

QString missing(int n)
{
    return QStringLiteral("/nonexistent/pelmora-port-%1").arg(n);
}

}  // namespace

class TestPortScan : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { qunsetenv("PELMORA_PORTS"); }

    void noPortOpens()
    {
        QStringList paths;
        for (int n = 1; n <= 10; ++n)
            paths << missing(n);
        setPorts(paths);
        Rig rig;
        QCOMPARE(rig.record->ports, (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
        QCOMPARE(rig.record->results, QList<int>(10, ErrorNumber::InvalidPortNumber));
        QCOMPARE(rig.form->Combo1->count(), 0);
        QVERIFY(!rig.form->MSComm1.PortOpen());
        QVERIFY(rig.dialogs->messages.isEmpty());
        QCOMPARE(rig.form->PortNumber, QString());
        QCOMPARE(rig.form->StatusBar1->Panels(2)->Text(), QStringLiteral("Port : "));
    }

    void connectWithNoPortSaysWhy()
    {
        setPorts({});
        Rig rig;
        const auto e = rig.openingError();
        QVERIFY2(e, "opened a port although none was found");
        QCOMPARE(e->number(), ErrorNumber::InvalidPortNumber);
        QVERIFY2(e->text().contains(QStringLiteral("No serial port can be opened")), qPrintable(e->text()));
        QVERIFY(e->text().contains(QStringLiteral("dialout")));
        QVERIFY(!rig.form->MSComm1.PortOpen());
    }

    void onlyPortThree()
    {
        Pty pty;
        QVERIFY(pty.isValid());
        setPorts({missing(1), missing(2), pty.slavePath()});
        Rig rig;
        QCOMPARE(rig.listed(), QStringList{QStringLiteral("3")});
        QCOMPARE(rig.form->Combo1->currentText(), QStringLiteral("3"));
        QCOMPARE(rig.form->PortNumber, QStringLiteral("3"));
        QCOMPARE(rig.form->StatusBar1->Panels(2)->Text(), QStringLiteral("Port : 3"));
        QVERIFY(!rig.form->MSComm1.PortOpen());
        QCOMPARE(rig.record->ports.size(), 10);
    }

    void portsTwoAndTen()
    {
        Pty two, ten;
        QVERIFY(two.isValid() && ten.isValid());
        QStringList paths;
        for (int n = 1; n <= 10; ++n)
            paths << (n == 2 ? two.slavePath() : n == 10 ? ten.slavePath() : missing(n));
        setPorts(paths);
        Rig rig;
        QCOMPARE(rig.listed(), (QStringList{QStringLiteral("2"), QStringLiteral("10")}));
        QCOMPARE(rig.form->Combo1->currentText(), QStringLiteral("2"));
        QCOMPARE(rig.form->PortNumber, QStringLiteral("2"));
        QVERIFY(!rig.form->MSComm1.PortOpen());
        // Each entry shows which device it stands for.
        QCOMPARE(rig.form->Combo1->itemData(1, Qt::ToolTipRole).toString(), ten.slavePath());
    }

    void portHeldByAnotherProgramIsSkipped()
    {
        Pty one, two;
        QVERIFY(one.isValid() && two.isValid());
        QProcess holder;
        QVERIFY(holdWithFlock(holder, one.slavePath()));

        setPorts({one.slavePath(), two.slavePath()});
        Rig rig;
        QCOMPARE(rig.record->results.value(0), ErrorNumber::PortAlreadyOpen);
        QCOMPARE(rig.record->results.value(1), 0);
        QCOMPARE(rig.listed(), QStringList{QStringLiteral("2")});
        QCOMPARE(rig.form->PortNumber, QStringLiteral("2"));
        QVERIFY(rig.dialogs->messages.isEmpty());
        holder.kill();
        holder.waitForFinished();
    }

    void connectingWhenTheOnlyPortIsHeldSaysWhoHoldsIt()
    {
        Pty one;
        QProcess holder;
        QVERIFY(one.isValid() && holdWithFlock(holder, one.slavePath()));
        setPorts({one.slavePath()});
        Rig rig;
        const auto e = rig.openingError();
        QVERIFY2(e, "opened a port another program holds");
        QCOMPARE(e->number(), ErrorNumber::PortAlreadyOpen);
        QVERIFY2(e->text().contains(QStringLiteral("sleep (process %1: sleep 60)").arg(holder.processId())), qPrintable(e->text()));
    }

    void deviceFailingWithAnIoErrorDoesNotStopTheScan()
    {
        LockedPty broken;
        Pty one, three;
        QVERIFY(!broken.slavePath().isEmpty() && one.isValid() && three.isValid());
        setPorts({one.slavePath(), broken.slavePath(), three.slavePath()});
        Rig rig;
        QCOMPARE(rig.record->ports.size(), 10);
        QCOMPARE(rig.record->results.mid(0, 3), (QList<int>{0, ErrorNumber::PortAlreadyOpen, 0}));
        // The system's reason goes with it.
        QVERIFY2(rig.record->texts[1].contains(QString::fromLocal8Bit(std::strerror(EIO))),
                 qPrintable(rig.record->texts[1]));
        QCOMPARE(rig.listed(), (QStringList{QStringLiteral("1"), QStringLiteral("3")}));
        QVERIFY(rig.dialogs->messages.isEmpty());
    }

    void trapRuleByNumber_data()
    {
        QTest::addColumn<QList<int>>("refusals");  // per port 1..10: 0 opens, else the number it fails with
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<int>("tried");
        QTest::newRow("the four go on") << QList<int>{8002, 8005, 8012, 8018, 0, 8002, 0, 8005, 8012, 0}
                                        << QStringList{"5", "7", "10"} << 10;
        QTest::newRow("380 stops") << QList<int>{0, 0, 380, 0, 0, 0, 0, 0, 0, 0} << QStringList{"1", "2"} << 3;
        QTest::newRow("8010 stops") << QList<int>{8002, 0, 8010, 0, 0, 0, 0, 0, 0, 0} << QStringList{"2"} << 3;
        QTest::newRow("70 on port 1") << QList<int>{70, 0, 0, 0, 0, 0, 0, 0, 0, 0} << QStringList{} << 1;
        QTest::newRow("foreign exception stops") << QList<int>{0, -1, 0, 0, 0, 0, 0, 0, 0, 0} << QStringList{"1"}
                                                 << 2;
    }

    void trapRuleByNumber()
    {
        QFETCH(QList<int>, refusals);
        QFETCH(QStringList, listed);
        QFETCH(int, tried);
        int calls = 0;
        Rig rig([&](short port, const LineSettings&) -> std::unique_ptr<SerialLine> {
            ++calls;
            const int number = refusals.value(port - 1);
            if (number == -1)
                throw std::runtime_error("not one of ours");
            if (number != 0)
                throw PelmoraError(number);
            return std::make_unique<IdleLine>();
        });
        QCOMPARE(calls, tried);
        QCOMPARE(rig.listed(), listed);
        QVERIFY(rig.dialogs->messages.isEmpty());
        QCOMPARE(rig.form->PortNumber, listed.value(0));
        QCOMPARE(rig.form->StatusBar1->Panels(2)->Text(), QStringLiteral("Port : ") + listed.value(0));
        QVERIFY(!rig.form->MSComm1.PortOpen());
    }

    void scanClosesAPortLeftOpen()
    {
        // Step 1 and 2: a port already open is closed before the scan.
        int opened = 0;
        Rig rig([&](short, const LineSettings&) -> std::unique_ptr<SerialLine> {
            ++opened;
            return std::make_unique<IdleLine>();
        });
        rig.form->Combo1->clear();
        rig.form->MSComm1.setPortOpen(true);
        opened = 0;
        rig.form->PortKontrol();
        QCOMPARE(opened, 10);
        QCOMPARE(rig.form->Combo1->count(), 10);
        QVERIFY(!rig.form->MSComm1.PortOpen());
    }

    // ---- the list follows the cable ------------------------------------------

    void settingsFrameShowsTheUpdatedListWithTheSelectionKept()
    {
        Pty a, b, c;
        FakeList system;
        *system.now = {adapter(a, QStringLiteral("AAAA")), adapter(b, QStringLiteral("BBBB"))};
        Rig rig({}, system.lister());
        QCOMPARE(rig.listed(), (QStringList{QStringLiteral("1"), QStringLiteral("2")}));
        rig.form->Combo1->setCurrentIndex(1);

        // A is pulled, C plugged in.
        *system.now = {adapter(b, QStringLiteral("BBBB")), adapter(c, QStringLiteral("CCCC"))};
        rig.record->ports.clear();
        rig.clickPanel(1);
        QVERIFY(!rig.form->Frame2->isHidden());
        QCOMPARE(rig.listed(), (QStringList{QStringLiteral("2"), QStringLiteral("3")}));
        QCOMPARE(rig.form->Combo1->currentText(), QStringLiteral("2"));
        // Only the new device was opened; B was probed at start-up.
        QCOMPARE(rig.record->ports, QList<int>{3});
        const QString tip = rig.form->Combo1->itemData(1, Qt::ToolTipRole).toString();
        QVERIFY2(tip.contains(c.slavePath()) && tip.contains(QStringLiteral("FT232R USB UART")) &&
                     tip.contains(QStringLiteral("CCCC")),
                 qPrintable(tip));
    }

    void portInUseStaysListedAndIsNotProbed()
    {
        Pty a;
        FakeList system;
        *system.now = {adapter(a, QStringLiteral("AAAA"))};
        Rig rig({}, system.lister());
        rig.form->PortAç();
        QVERIFY(rig.form->MSComm1.PortOpen());
        // The system no longer reports it, the program still holds it.
        system.now->clear();
        rig.record->ports.clear();
        rig.clickPanel(2);
        QCOMPARE(rig.listed(), QStringList{QStringLiteral("1")});
        QVERIFY(rig.record->ports.isEmpty());
        QVERIFY(rig.form->MSComm1.PortOpen());
    }

    void connectingToAGoneAdapterUpdatesTheListBeforeItReports()
    {
        Pty a, b;
        FakeList system;
        *system.now = {adapter(a, QStringLiteral("AAAA"))};
        Rig rig({}, system.lister());
        QCOMPARE(rig.form->PortNumber, QStringLiteral("1"));
        *system.now = {adapter(b, QStringLiteral("BBBB"))};
        const auto e = rig.openingError();
        QVERIFY2(e, "opened a port whose adapter is gone");
        QCOMPARE(e->number(), ErrorNumber::InvalidPortNumber);
        QVERIFY2(e->text().contains(QStringLiteral("AAAA")), qPrintable(e->text()));
        QCOMPARE(rig.listed(), QStringList{QStringLiteral("2")});
    }

    void connectingWithAnEmptyListUpdatesItBeforeItReports()
    {
        Pty a;
        FakeList system;
        Rig rig({}, system.lister());
        QCOMPARE(rig.form->Combo1->count(), 0);
        *system.now = {adapter(a, QStringLiteral("AAAA"))};
        const auto e = rig.openingError();
        QVERIFY2(e, "connected with no port chosen");
        QCOMPARE(e->number(), ErrorNumber::InvalidPortNumber);
        QVERIFY2(e->text().contains(QStringLiteral("now offers 1")), qPrintable(e->text()));
        QCOMPARE(rig.listed(), QStringList{QStringLiteral("1")});
        QVERIFY(!rig.form->MSComm1.PortOpen());
    }

    void deviceAppearingAfterStartUpIsListedAndConnects()
    {
        // Port 2 is a link that does not exist yet at start-up.
        QTemporaryDir dir;
        const QString later = dir.filePath(QStringLiteral("rv7k-later"));
        Pty one;
        setPorts({one.slavePath(), later});
        Rig rig;
        QCOMPARE(rig.listed(), QStringList{QStringLiteral("1")});

        EmulatorProcess device;
        QVERIFY2(device.start(), qPrintable(device.errorString()));
        QVERIFY(QFile::link(device.ptyPath(), later));
        rig.clickPanel(2);
        QCOMPARE(rig.listed(), (QStringList{QStringLiteral("1"), QStringLiteral("2")}));
        QCOMPARE(rig.form->Combo1->currentText(), QStringLiteral("1"));

        rig.form->Combo1->setCurrentIndex(1);
        rig.form->Command2_Click();
        rig.clickPanel(4);
        QCOMPARE(rig.form->StatusBar1->Panels(3)->Text(), QStringLiteral("Connected :"));
        QVERIFY(rig.dialogs->messages.isEmpty());
    }
};

QTEST_MAIN(TestPortScan)
#include "tst_portscan.moc"
