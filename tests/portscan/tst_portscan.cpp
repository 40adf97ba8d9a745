// The port scan at start-up over real pseudo-terminals named through
// PELMORA_PORTS, and its trap rule with scripted refusals.

#include "FakeDialogs.h"
#include "Form1.h"
#include "Pty.h"
#include "link/QtSerialLine.h"
#include "window/StatusBar.h"

#include <QComboBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <map>
#include <memory>
#include <stdexcept>
#include <sys/file.h>
#include <unistd.h>

namespace {

// Every open the scan asks for, and the number it failed with (0: opened).
struct OpenRecord {
    QList<int> ports;
    QList<int> results;
};

LineOpener recordingRealOpener(const std::shared_ptr<OpenRecord>& record)
{
    return [record](short port, const LineSettings& settings) {
        record->ports << port;
        try {
            auto line = openQtSerialLine(port, settings);
            record->results << 0;
            return line;
        } catch (const PelmoraError& e) {
            record->results << e.number();
            throw;
        }
    };
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

    explicit Rig(LineOpener opener = {})
    {
        Seams seams = Seams::production();
        seams.dialogs = dialogs;
        seams.openLine = opener ? std::move(opener) : recordingRealOpener(record);
        form = std::make_unique<Form1>(std::move(seams));
        form->Form_Load();
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
        try {
            rig.form->PortAç();
            QFAIL("opened a port although none was found");
        } catch (const PelmoraError& e) {
            QCOMPARE(e.number(), ErrorNumber::InvalidPortNumber);
            QVERIFY2(e.text().contains(QStringLiteral("No serial port could be opened at start-up")),
                     qPrintable(e.text()));
            QVERIFY(e.text().contains(QStringLiteral("dialout")));
        }
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
        // Another program takes port 1 the way terminal programs do, with flock.
        QProcess holder;
        holder.start(QStringLiteral("sh"), {QStringLiteral("-c"),
                                            QStringLiteral("exec 9<\"$1\" && flock -x 9 && echo held && exec sleep 60"),
                                            QStringLiteral("sh"), one.slavePath()});
        QVERIFY(holder.waitForReadyRead(5000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("held"));

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

    void otherNumberStopsTheScan()
    {
        // A plain file is no serial line: the open fails with a number the
        // scan does not go on after.
        QTemporaryDir dir;
        const QString plain = dir.filePath(QStringLiteral("not-a-tty"));
        QFile f(plain);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        Pty one, three;
        QVERIFY(one.isValid() && three.isValid());
        setPorts({one.slavePath(), plain, three.slavePath()});
        Rig rig;
        QCOMPARE(rig.record->ports, (QList<int>{1, 2}));
        const int number = rig.record->results.value(1);
        QVERIFY2(number != 0 && number != ErrorNumber::InvalidPortNumber && number != ErrorNumber::PortAlreadyOpen &&
                     number != ErrorNumber::DeviceNotOpen && number != ErrorNumber::PortNotOpen,
                 qPrintable(QString::number(number)));
        QCOMPARE(rig.listed(), QStringList{QStringLiteral("1")});
        QVERIFY(rig.dialogs->messages.isEmpty());
        QCOMPARE(rig.form->PortNumber, QStringLiteral("1"));
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
};

QTEST_MAIN(TestPortScan)
#include "tst_portscan.moc"
