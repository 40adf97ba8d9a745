// The station as a service: what it tells the service manager, and the udev
// rules `ports` prints.

#include "EmulatorProcess.h"
#include "ports/PortsCommand.h"
#include "service/ServiceNotifier.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

class StationServiceTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void statusAndWatchdogTellTheTruth();
    void readyOnlyOnceEverythingCheckedOut();
    void rulesNameAdaptersByTheirUsbPath();
    void configurationRefusedWithItsLine();
};

void StationServiceTest::statusAndWatchdogTellTheTruth()
{
    Recipe recipe;
    StationState state({{QStringLiteral("A"), QStringLiteral("/dev/a"), {}}, {QStringLiteral("B"), QStringLiteral("/dev/b"), {}}},
                       recipe);
    QList<QByteArray> sent;
    double now = 100;
    ServiceNotifier notifier([&](const QByteArray& m) { sent << m; }, [&] { return now; });
    state.heartbeat(0, now);
    state.heartbeat(1, now);
    notifier.flush(state);
    QCOMPARE(sent, (QList<QByteArray>{"READY=1\nSTATUS=2 fixtures: 2 waiting; 0 units, 0 failed", "WATCHDOG=1"}));

    sent.clear();
    state.apply({0, EventKind::Arrived, 7, -1, {}, {}, {}, {}, {}});
    now += 2;
    notifier.flush(state);
    QCOMPARE(sent, (QList<QByteArray>{"STATUS=2 fixtures: 1 loading, 1 waiting; 0 units, 0 failed", "WATCHDOG=1"}));

    // A loop that stopped looking up starves the watchdog; one that ended does not.
    sent.clear();
    now += kLoopStuckAfter + 1;
    state.heartbeat(1, now);
    notifier.flush(state);
    QCOMPARE(sent, QList<QByteArray>());
    state.heartbeat(0, -1);
    notifier.flush(state);
    QCOMPARE(sent, QList<QByteArray>{"WATCHDOG=1"});
}

void StationServiceTest::readyOnlyOnceEverythingCheckedOut()
{
    // The service manager's end: a datagram socket named by NOTIFY_SOCKET.
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("notify")));
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
    QByteArray said;
    // Read as the service manager does, as they come: a full queue would hold the station up.
    const auto receive = [fd, &said] {
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            said += QByteArray(buffer, int(n)) + '|';
    };
    {
        QFile f(dir.filePath(QStringLiteral("label.epl")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("a label");
    }
    const auto station = [&](const QString& recipeText, const QStringList& more) {
        QFile r(dir.filePath(QStringLiteral("recipe.toml")));
        r.open(QIODevice::WriteOnly | QIODevice::Truncate);
        r.write(recipeText.toUtf8());
        r.close();
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("NOTIFY_SOCKET"), QString::fromLocal8Bit(path));
        p.setProcessEnvironment(env);
        p.start(qEnvironmentVariable("PELMORA_STATION"),
                QStringList{QStringLiteral("--recipe"), r.fileName(), QStringLiteral("--ledger"),
                            dir.filePath(QStringLiteral("ledger.sqlite"))} + more);
        QDeadlineTimer deadline(120000);
        while (!p.waitForFinished(50) && !deadline.hasExpired())
            receive();
        receive();
        return p.exitCode();
    };
    // A recipe that does not check out: no READY, and a status the service manager restarts on.
    QCOMPARE(station(QStringLiteral("name = \"r\"\n[[label]]\nslot = 9\nfile = \"label.epl\"\n"),
                     {QStringLiteral("--fixture"), QStringLiteral("/dev/none")}),
             3);
    QCOMPARE(said, QByteArray());

    EmulatorProcess e;
    QVERIFY(e.start({QStringLiteral("--units"), QStringLiteral("1"), QStringLiteral("--present"), QStringLiteral("3")}));
    QCOMPARE(station(QStringLiteral("name = \"r\"\n[[label]]\nslot = 2\nfile = \"label.epl\"\n"),
                     {QStringLiteral("--units"), QStringLiteral("1"), QStringLiteral("--fixture"), e.ptyPath()}),
             0);
    QVERIFY2(said.startsWith("READY=1\nSTATUS=1 fixture: 1 waiting; 0 units, 0 failed|"), said.constData());
    QVERIFY2(said.contains("|STATUS=1 fixture: 1 loading; 0 units, 0 failed|"), said.constData());
    QVERIFY2(said.contains("STATUS=1 fixture: 1 passed; 1 unit, 0 failed|"), said.constData());
    QVERIFY2(said.endsWith("STOPPING=1\nSTATUS=stopping: 1 fixture: 1 passed; 1 unit, 0 failed|"), said.constData());
    ::close(fd);
}

void StationServiceTest::rulesNameAdaptersByTheirUsbPath()
{
    PortDirectory::Identity twin{0x0403, 0x6001, {}, QStringLiteral("FT232R USB UART"), QStringLiteral("1-1.2:1.0")};
    PortDirectory::Identity other = twin, sibling = twin;
    other.place = QStringLiteral("1-1.3:1.0 port 1");
    sibling.place = QStringLiteral("1-1.3:1.0 port 0");
    const QString report = portsReport({{QStringLiteral("/dev/ttyUSB1"), other},
                                        {QStringLiteral("/dev/pts/4"), {}},
                                        {QStringLiteral("/dev/ttyUSB2"), sibling},
                                        {QStringLiteral("/dev/ttyUSB0"), twin}});
    // Two adapters alike but for their socket get a rule each, in port order;
    // two ports of one interface a rule each, by port number; a pty none.
    const QStringList rules = report.split(u'\n').filter(QRegularExpression(QStringLiteral("^SUBSYSTEM")));
    QCOMPARE(rules, QStringList({
        "SUBSYSTEM==\"tty\", KERNELS==\"1-1.2:1.0\", SYMLINK+=\"rv7k-fixture-a\", ENV{ID_MM_DEVICE_IGNORE}=\"1\", GROUP=\"dialout\", MODE=\"0660\"",
        "SUBSYSTEM==\"tty\", KERNELS==\"1-1.3:1.0\", ENV{PELMORA_USB_INTERFACE}=\"1-1.3:1.0\"",
        "SUBSYSTEM==\"tty\", ENV{PELMORA_USB_INTERFACE}==\"1-1.3:1.0\", ATTRS{port_number}==\"1\", SYMLINK+=\"rv7k-fixture-b\", ENV{ID_MM_DEVICE_IGNORE}=\"1\", GROUP=\"dialout\", MODE=\"0660\"",
        "SUBSYSTEM==\"tty\", ENV{PELMORA_USB_INTERFACE}==\"1-1.3:1.0\", ATTRS{port_number}==\"0\", SYMLINK+=\"rv7k-fixture-c\", ENV{ID_MM_DEVICE_IGNORE}=\"1\", GROUP=\"dialout\", MODE=\"0660\""}));
    // The 27th port named on is never a name used before.
    QCOMPARE(fixtureLinkName(25), QStringLiteral("rv7k-fixture-z"));
    QCOMPARE(fixtureLinkName(26), QStringLiteral("rv7k-fixture-aa"));
    QCOMPARE(fixtureLinkName(26 + 26 * 26), QStringLiteral("rv7k-fixture-aaa"));
    QVERIFY(report.contains(QStringLiteral("# /dev/pts/4: no USB path known")));
}

void StationServiceTest::configurationRefusedWithItsLine()
{
    QFile config(dir.filePath(QStringLiteral("station.toml")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("recipe = \"recipe.toml\"\n[[fixture]]\nport = \"/dev/a\"\nprescence = \"dsr\"\n");
    config.close();
    QProcess p;
    p.start(qEnvironmentVariable("PELMORA_STATION"), {QStringLiteral("--config"), config.fileName(), QStringLiteral("--check")});
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitCode(), 2);
    const QString said = QString::fromLocal8Bit(p.readAllStandardError());
    QVERIFY2(said.contains(QStringLiteral("station.toml:4: unknown key \"prescence\" in a fixture")), qPrintable(said));
}

QTEST_GUILESS_MAIN(StationServiceTest)
#include "tst_station_service.moc"
