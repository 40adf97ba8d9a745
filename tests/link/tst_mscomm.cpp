// The serial-port component over a real pseudo-terminal.

#include "EmulatorProcess.h"
#include "Pty.h"
#include "link/CommandFrame.h"
#include "link/Errors.h"
#include "link/LineSettings.h"
#include "link/MSComm.h"
#include "link/PortBindings.h"
#include "link/Wait.h"
#include "link/QtSerialLine.h"
#include "link/PortLocks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <memory>
#include <termios.h>
#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

using MSCommLib::MSComm;

namespace {

int errorOf(const std::function<void()>& action, QString* text = nullptr)
{
    try {
        action();
    } catch (const PelmoraError& e) {
        if (text)
            *text = e.text();
        return e.number();
    }
    return 0;
}

void usePorts(const QStringList& paths)
{
    qputenv(PortDirectory::kEnvironmentVariable, paths.join(QLatin1Char(',')).toLocal8Bit());
}

}  // namespace

class MSCommTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { qunsetenv(PortDirectory::kEnvironmentVariable); }
    void settingsTextIsParsedStrictly_data();
    void settingsTextIsParsedStrictly();
    void everyCommandAgainstTheEmulator();
    void writesFramesAndReadsWhatArrived();
    void lateReplyIsWhatTheNextReadReturns();
    void openingAppliesTheLineSettings();
    void portNumberWithoutDeviceIs8002();
    void portHeldIs8005();
    void lockFilesAsOtherProgramsWriteThem_data();
    void lockFilesAsOtherProgramsWriteThem();
    void lockThatIsNoRegularFileIsRefusedAtOnce();
    void staleLockRewrittenMeanwhileIsHonoured();
    void lockFolderThatCannotBeWrittenIsARefusal();
    void lineHeldWithoutLockIsRefusedUntouched();
    void pathThatIsNoTerminalIsNotASerialPort();
    void closedPortRefusesOutputAndInput();
    void hangUpBecomesNumberedErrorOnNextWrite();
    void permissionTextSaysHowToGetAccess();
    void portsAreNumberedInNaturalOrder();
    void drainIsBoundedByWhatTheQueueNeedsAtLineSpeed();
};

void MSCommTest::settingsTextIsParsedStrictly_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("start-up") << "9600,n,8,1" << true;
    QTest::newRow("window") << "9600,E,7,1" << true;
    QTest::newRow("two stop bits") << "1200,o,8,2" << true;
    QTest::newRow("one and a half") << "19200,m,5,1.5" << true;
    QTest::newRow("stop bits 0") << "9600,E,7,0" << false;
    QTest::newRow("parity x") << "9600,x,8,1" << false;
    QTest::newRow("data 9") << "9600,n,9,1" << false;
    QTest::newRow("baud text") << "fast,n,8,1" << false;
    QTest::newRow("baud 0") << "0,n,8,1" << false;
    QTest::newRow("three fields") << "9600,n,8" << false;
    QTest::newRow("empty") << "" << false;
}

void MSCommTest::settingsTextIsParsedStrictly()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    MSComm comm;
    const int error = errorOf([&] { comm.setSettings(text); });
    QCOMPARE(error, accepted ? 0 : ErrorNumber::InvalidPropertyValue);
    QCOMPARE(comm.Settings(), accepted ? text : QStringLiteral("9600,n,8,1"));
}

void MSCommTest::everyCommandAgainstTheEmulator()
{
    EmulatorProcess emulator;
    QVERIFY2(emulator.start(), qPrintable(emulator.errorString()));
    usePorts({emulator.ptyPath()});
    MSComm comm;
    comm.setPortOpen(true);
    SteadyClock clock;
    struct Command {
        Loose payload;
        double wait;
        QChar expected;  // null: no reply is read
    };
    const Command table[] = {
        {"S", 1.0, QLatin1Char('S')},         {"#Externl2.ejf#", 2.0, QLatin1Char('D')},
        {"%2#", 1.0, QLatin1Char('U')},       {65, 0.015, QChar()},
        {66, 0.015, QChar()},                 {"#File#", 0.0, QChar()},
        {"#End#", 1.8, QLatin1Char('T')},
    };
    for (const Command& c : table) {
        comm.setOutput(QString::fromLatin1(commandFrame(c.payload)));
        waitOn(clock, c.wait);
        const QString reply = comm.Input();
        if (!c.expected.isNull())
            QVERIFY2(reply.startsWith(c.expected), qPrintable(c.payload.text() + QStringLiteral(" -> ") + reply));
        else
            QCOMPARE(reply, QString());
    }
    QVERIFY(emulator.waitForLog([](const QList<QJsonObject>& log) {
        return std::any_of(log.begin(), log.end(), [](const QJsonObject& o) {
            return o.value(QStringLiteral("event")).toString() == QStringLiteral("file-written");
        });
    }));
    QFile slot(emulator.outDir() + QStringLiteral("/Externl2.ejf"));
    QVERIFY(slot.open(QIODevice::ReadOnly));
    QCOMPARE(slot.readAll(), QByteArray("AB"));
    for (const QJsonObject& frame : emulator.readFrames())
        QVERIFY(frame.value(QStringLiteral("ok")).toBool());
}

void MSCommTest::writesFramesAndReadsWhatArrived()
{
    Pty pty;
    QVERIFY(pty.isValid());
    usePorts({pty.slavePath()});
    MSComm comm;
    comm.setCommPort(1);
    comm.setPortOpen(true);
    QVERIFY(comm.PortOpen());

    QCOMPARE(comm.Input(), QString());  // nothing arrived yet

    comm.setOutput(QString::fromLatin1(commandFrame("S")));
    QCOMPARE(pty.receive().toHex(), QByteArray("53530d"));

    // Every 8-bit code goes out as one byte.
    QString all;
    for (int c = 0; c < 256; ++c)
        all += QChar(c);
    comm.setOutput(all);
    QByteArray got;
    while (got.size() < 256) {
        const QByteArray chunk = pty.receive();
        if (chunk.isEmpty())
            break;
        got += chunk;
    }
    QCOMPARE(got.size(), 256);
    for (int c = 0; c < 256; ++c)
        QCOMPARE(static_cast<unsigned char>(got[c]), static_cast<unsigned char>(c));

    pty.send("S");
    QTest::qWait(100);
    QCOMPARE(comm.Input(), QStringLiteral("S"));
    QCOMPARE(comm.Input(), QString());  // reading removes what it returns
}

void MSCommTest::lateReplyIsWhatTheNextReadReturns()
{
    Pty pty;
    usePorts({pty.slavePath()});
    MSComm comm;
    comm.setPortOpen(true);
    comm.setOutput(QString::fromLatin1(commandFrame("#Externl1.ejf#")));
    QVERIFY(!pty.receive().isEmpty());
    QCOMPARE(comm.Input(), QString());  // the device has not answered in time
    pty.send("D");
    QTest::qWait(100);
    comm.setOutput(QString::fromLatin1(commandFrame("%12#")));
    pty.send("U");
    QTest::qWait(100);
    // The late "D" comes first, hiding the "U".
    QCOMPARE(comm.Input(), QStringLiteral("DU"));
}

void MSCommTest::openingAppliesTheLineSettings()
{
    Pty pty;
    usePorts({pty.slavePath()});
    MSComm comm;
    comm.setSettings(QStringLiteral("1200,e,7,2"));
    comm.setPortOpen(true);
    termios tio{};
    const int fd = ::open(pty.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    QVERIFY(fd >= 0);
    QCOMPARE(::tcgetattr(fd, &tio), 0);
    ::close(fd);
    // A pseudo-terminal keeps 8 data bits and no parity whatever is asked;
    // the speed and the stop bits show what the port was opened with.
    QCOMPARE(cfgetospeed(&tio), speed_t(B1200));
    QVERIFY(tio.c_cflag & CSTOPB);

    // A change while open waits for the next opening.
    comm.setSettings(QStringLiteral("9600,n,8,1"));
    comm.setPortOpen(false);
    comm.setPortOpen(true);
    const int fd2 = ::open(pty.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    QCOMPARE(::tcgetattr(fd2, &tio), 0);
    ::close(fd2);
    QCOMPARE(cfgetospeed(&tio), speed_t(B9600));
    QVERIFY(!(tio.c_cflag & CSTOPB));
}

void MSCommTest::portNumberWithoutDeviceIs8002()
{
    Pty pty;
    usePorts({pty.slavePath(), QStringLiteral("/dev/pelmora-no-such-device")});
    MSComm comm;
    comm.setCommPort(3);  // nothing listed at 3
    QCOMPARE(errorOf([&] { comm.setPortOpen(true); }), ErrorNumber::InvalidPortNumber);
    comm.setCommPort(2);  // listed, but the device is not there
    QCOMPARE(errorOf([&] { comm.setPortOpen(true); }), ErrorNumber::InvalidPortNumber);
    QVERIFY(!comm.PortOpen());
    QCOMPARE(errorOf([&] { comm.setCommPort(0); }), ErrorNumber::InvalidPortNumber);
    QCOMPARE(errorOf([&] { comm.setCommPort(11); }), ErrorNumber::InvalidPortNumber);
}

void MSCommTest::portHeldIs8005()
{
    Pty pty;
    usePorts({pty.slavePath()});
    MSComm first;
    first.setPortOpen(true);
    QCOMPARE(errorOf([&] { first.setPortOpen(true); }), ErrorNumber::PortAlreadyOpen);

    MSComm second;
    QCOMPARE(errorOf([&] { second.setPortOpen(true); }), ErrorNumber::PortAlreadyOpen);
    first.setPortOpen(false);
    second.setPortOpen(true);  // free again once the first let go
    second.setPortOpen(false);

    // Another program holding the device with a lock.
    QProcess holder;
    holder.start(QStringLiteral("flock"), {pty.slavePath(), QStringLiteral("-c"), QStringLiteral("echo held; sleep 30")});
    QVERIFY(holder.waitForReadyRead(5000));
    try {
        second.setPortOpen(true);
        QFAIL("a device held by another program opened");
    } catch (const PelmoraError& e) {
        QCOMPARE(e.number(), ErrorNumber::PortAlreadyOpen);
        QVERIFY2(e.text().contains(QStringLiteral("flock (process %1: ").arg(holder.processId())),
                 qPrintable(e.text()));
    }
    holder.kill();
    holder.waitForFinished();
}

void MSCommTest::lockFilesAsOtherProgramsWriteThem_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("honoured");
    QProcess gone;
    gone.start(QStringLiteral("true"));
    QVERIFY(gone.waitForStarted());
    const qint32 dead = qint32(gone.processId());
    gone.waitForFinished();
    const qint32 live = qint32(QCoreApplication::applicationPid());
    const QByteArray host = QSysInfo::machineHostName().toUtf8();
    const QString qtDevice = QStringLiteral("device's Qt name");
    for (const qint32 pid : {live, dead}) {
        const QByteArray n = QByteArray::number(pid);
        const char* const who = pid == live ? "live" : "dead";
        QTest::addRow("text, %s", who) << qtDevice << n.rightJustified(10, ' ') + '\n' << (pid == live);
        QTest::addRow("binary, %s", who) << qtDevice << QByteArray(reinterpret_cast<const char*>(&pid), sizeof pid)
                                         << (pid == live);
        QTest::addRow("older Qt's, %s", who) << qtDevice << n + "\ntst_mscomm\n" + host + '\n' << (pid == live);
        QTest::addRow("Qt's, %s", who) << qtDevice
                                       << n + "\ntst_mscomm\n" + host + '\n' + QSysInfo::machineUniqueId() + '\n' +
                                              QSysInfo::bootUniqueId() + '\n'
                                       << (pid == live);
    }
    QTest::newRow("Qt's, left before this start")
        << qtDevice << QByteArray::number(live) + "\ntst_mscomm\n" + host + '\n' + QSysInfo::machineUniqueId() + "\nx\n"
        << false;
    QTest::newRow("Qt's, pid now another program") << qtDevice << QByteArray::number(live) + "\npicocom\n" + host + '\n'
                                                   << false;
    // A dead binary pid whose bytes read "1\n": no text lock of process 1.
    qint32 readsAsText = 0;
    for (char digit = '1'; digit <= '9' && readsAsText == 0; ++digit) {
        const char bytes[4] = {digit, '\n', 0, 0};
        const qint32 pid = qFromUnaligned<qint32>(bytes);
        if (::kill(pid, 0) != 0 && errno == ESRCH)
            readsAsText = pid;
    }
    QVERIFY(readsAsText != 0);
    QTest::newRow("binary that reads as text, dead")
        << qtDevice << QByteArray(reinterpret_cast<const char*>(&readsAsText), sizeof readsAsText) << false;
    QTest::newRow("empty") << qtDevice << QByteArray() << false;
    QTest::newRow("garbage") << qtDevice << QByteArray("garbage") << false;
    const QByteArray liveText = QByteArray::number(live).rightJustified(10, ' ') + '\n';
    for (const char* name : {"device's last part", "link's last part", "link's Qt name"})
        QTest::newRow(name) << QString::fromLatin1(name) << liveText << true;
    QTest::newRow("none") << QString() << QByteArray() << false;
    // minicom and cu lock the name they were given; Pelmora may be given another.
    QTest::newRow("link's last part, given the device") << QStringLiteral("link's last part") << liveText << true;
    QTest::newRow("Qt's, another host, pid unknown here")
        << qtDevice << QByteArray::number(dead) + "\npicocom\nelsewhere\nother-machine\nother-boot\n" << true;
    QTest::newRow("Qt's, live, program as a full path")
        << qtDevice << QByteArray::number(live) + '\n' + QCoreApplication::applicationFilePath().toUtf8() + '\n' + host + '\n'
        << true;
}

void MSCommTest::lockFilesAsOtherProgramsWriteThem()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(bool, honoured);
    const bool byDevice = QByteArray(QTest::currentDataTag()).endsWith("given the device");
    // The line reachable by a link, as a udev rule names it.
    Pty pty;
    QTemporaryDir links, locks;
    const QString link = links.filePath(QStringLiteral("rv7k-bench1"));
    QVERIFY(QFile::link(pty.slavePath(), link));
    qputenv("PELMORA_LINK_DIRS", links.path().toLocal8Bit());
    usePorts({byDevice ? pty.slavePath() : link});
    const QString device = pty.slavePath();
    const QHash<QString, QString> names{
        {QStringLiteral("device's Qt name"), device.mid(5).replace(u'/', u'_')},
        {QStringLiteral("device's last part"), QFileInfo(device).fileName()},
        {QStringLiteral("link's last part"), QStringLiteral("rv7k-bench1")},
        {QStringLiteral("link's Qt name"), QString(link).replace(u'/', u'_')}};
    qputenv("PELMORA_LOCK_DIR", locks.path().toLocal8Bit());
    QFile lock(locks.filePath(QStringLiteral("LCK..") + names.value(name)));
    if (!name.isEmpty()) {
        QVERIFY(lock.open(QIODevice::WriteOnly) && lock.write(content) == content.size());
        lock.close();
    }
    if (!honoured && !name.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^took over the stale lock file ")));
    MSComm comm;
    QString text;
    const int error = errorOf([&] { comm.setPortOpen(true); }, &text);
    QCOMPARE(error, honoured ? ErrorNumber::PortAlreadyOpen : 0);  // else taken over
    if (honoured) {
        const QString holder = content.contains("elsewhere")
                                   ? QStringLiteral("process %1 on elsewhere").arg(content.left(content.indexOf('\n')))
                                   : QStringLiteral("tst_mscomm (process %1)").arg(QCoreApplication::applicationPid());
        QVERIFY2(text.contains(lock.fileName()) && text.contains(holder), qPrintable(text));
        QVERIFY(lock.open(QIODevice::ReadOnly));
        QCOMPARE(lock.readAll(), content);
    } else {
        // Ours under the device's last part while the line is open (Qt's name
        // is QSerialPort's, in its own folder), never under the link's.
        QStringList ours = QDir(locks.path()).entryList(QDir::Files);
        QCOMPARE(ours, QStringList{QStringLiteral("LCK..") + names.value(QStringLiteral("device's last part"))});
        comm.setPortOpen(false);
        QVERIFY(QDir(locks.path()).isEmpty());
    }
    qunsetenv("PELMORA_LOCK_DIR");
    qunsetenv("PELMORA_LINK_DIRS");
}

void MSCommTest::lockThatIsNoRegularFileIsRefusedAtOnce()
{
    Pty pty;
    usePorts({pty.slavePath()});
    QTemporaryDir locks;
    qputenv("PELMORA_LOCK_DIR", locks.path().toLocal8Bit());
    const QString lock = locks.filePath(QStringLiteral("LCK..") + QFileInfo(pty.slavePath()).fileName());
    const QList<std::pair<std::function<bool()>, QString>> plants{
        {[&] { return ::mkfifo(QFile::encodeName(lock).constData(), 0600) == 0; }, QStringLiteral("(a FIFO)")},
        {[&] { return QDir().mkdir(lock); }, QStringLiteral("(a folder)")},
        {[&] { return QFile::link(QStringLiteral("/etc/hostname"), lock); }, QStringLiteral("out of its lock folder")}};
    for (const auto& [plant, why] : plants) {
        QVERIFY(plant());
        MSComm comm;
        QString text;
        QCOMPARE(errorOf([&] { comm.setPortOpen(true); }, &text), ErrorNumber::PortAlreadyOpen);
        QVERIFY2(text.contains(lock) && text.contains(why), qPrintable(text));
        QVERIFY(QFileInfo(lock).exists() || QFileInfo(lock).isSymLink());
        QVERIFY(QFile::remove(lock) || QDir().rmdir(lock));
    }
    qunsetenv("PELMORA_LOCK_DIR");
}

void MSCommTest::staleLockRewrittenMeanwhileIsHonoured()
{
    Pty pty;
    QTemporaryDir locks;
    qputenv("PELMORA_LOCK_DIR", locks.path().toLocal8Bit());
    QFile file(locks.filePath(QStringLiteral("LCK..") + QFileInfo(pty.slavePath()).fileName()));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("0\n") == 2 && file.flush());  // names no process: stale
    const QList<PortLock> found = findPortLocks(pty.slavePath());
    QVERIFY(found.size() == 1 && !found.first().alive && !found.first().refused);
    // Another program takes the line between the judgment and the removal.
    QVERIFY(file.resize(0) && file.write(QByteArray::number(::getpid()) + '\n') > 0 && file.flush());
    QString text;
    QCOMPARE(errorOf([&] { removeStaleLock(pty.slavePath(), found.first()); }, &text), ErrorNumber::PortAlreadyOpen);
    QVERIFY2(text.contains(QStringLiteral("locked by tst_mscomm")) && file.exists(), qPrintable(text));
    qunsetenv("PELMORA_LOCK_DIR");
}

void MSCommTest::lockFolderThatCannotBeWrittenIsARefusal()
{
    Pty pty;
    usePorts({pty.slavePath()});
    qputenv("PELMORA_LOCK_DIR", "/sys");  // refuses new files even to root
    MSComm comm;
    QString text;
    QCOMPARE(errorOf([&] { comm.setPortOpen(true); }, &text), ErrorNumber::PortAlreadyOpen);
    QVERIFY2(text.contains(QStringLiteral("cannot be written in the lock folder /sys: Permission denied")), qPrintable(text));
    qunsetenv("PELMORA_LOCK_DIR");
}

void MSCommTest::lineHeldWithoutLockIsRefusedUntouched()
{
    // A terminal program on the line writing no lock, as screen does.
    Pty pty;
    usePorts({pty.slavePath()});
    QProcess holder;
    holder.setStandardInputFile(pty.slavePath());
    holder.start(QStringLiteral("sleep"), {QStringLiteral("30")});
    QVERIFY(holder.waitForStarted());
    MSComm comm;
    QString text;
    QCOMPARE(errorOf([&] { comm.setPortOpen(true); }, &text), ErrorNumber::PortAlreadyOpen);
    QVERIFY2(text.contains(QStringLiteral("in use by another program: sleep (process %1: ").arg(holder.processId())), qPrintable(text));
    holder.kill();
    holder.waitForFinished();
}

void MSCommTest::pathThatIsNoTerminalIsNotASerialPort()
{
    QTemporaryFile file;
    QVERIFY(file.open());
    for (const QString& path : {QStringLiteral("/dev/null"), file.fileName()}) {
        usePorts({path});
        MSComm comm;
        QString text;
        QCOMPARE(errorOf([&] { comm.setPortOpen(true); }, &text), ErrorNumber::PortAlreadyOpen);
        QVERIFY2(text.endsWith(QStringLiteral("is not a serial port")), qPrintable(text));
    }
}

void MSCommTest::closedPortRefusesOutputAndInput()
{
    MSComm comm;
    QCOMPARE(errorOf([&] { comm.setOutput(QStringLiteral("S")); }), ErrorNumber::PortNotOpen);
    QCOMPARE(errorOf([&] { comm.Input(); }), ErrorNumber::PortNotOpen);
    comm.setPortOpen(false);  // closing a closed port is no error
}

void MSCommTest::hangUpBecomesNumberedErrorOnNextWrite()
{
    auto pty = std::make_unique<Pty>();
    usePorts({pty->slavePath()});
    MSComm comm;
    comm.setPortOpen(true);
    comm.setOutput(QStringLiteral("S"));
    pty.reset();  // the other end is gone
    QString text;  // 8010's standing text, with no system reason after it
    for (int i = 0; i < 3 && text.isEmpty(); ++i)
        errorOf([&] { comm.setOutput(QString::fromLatin1(commandFrame(65))); }, &text);
    QCOMPARE(text, QStringLiteral("Hardware not available: ") + QLatin1String(kLineLostDetail));
    QVERIFY(!comm.PortOpen());
    QCOMPARE(errorOf([&] { comm.setOutput(QStringLiteral("S")); }), ErrorNumber::PortNotOpen);
}

void MSCommTest::permissionTextSaysHowToGetAccess()
{
    // /dev/null belongs to root: the hint is a udev rule or dialout, never root's group.
    const QString denied = heldOrDeniedText(QStringLiteral("/dev/null"), true);
    QVERIFY(denied.contains(QStringLiteral("permission")));
    QVERIFY2(denied.contains(QStringLiteral("udev rule")) && denied.contains(QStringLiteral("dialout")),
             qPrintable(denied));
    QVERIFY2(!denied.contains(QStringLiteral("'root'")) && !denied.contains(QStringLiteral("-aG root")),
             qPrintable(denied));
    QVERIFY(!heldOrDeniedText(QStringLiteral("/dev/null"), false).contains(QStringLiteral("group")));
}

void MSCommTest::portsAreNumberedInNaturalOrder()
{
    PortBindings system([] {
        QList<PortDirectory::Device> devices;
        for (const char* path : {"/dev/ttyUSB0", "/dev/ttyS10", "/dev/ttyS2", "/dev/ttyACM0", "/dev/ttyS0"})
            devices.append({QString::fromLatin1(path), {}});
        return devices;
    });
    system.update();
    QStringList numbered;
    for (int n = 1; n <= 5; ++n)
        numbered << system.devicePath(n);
    QCOMPARE(numbered, QStringList({"/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyS2", "/dev/ttyS10", "/dev/ttyUSB0"}));

    usePorts({"/dev/a", " /dev/b "});
    PortBindings pinned([] { return QList<PortDirectory::Device>{}; });
    pinned.update();
    QCOMPARE(pinned.devicePath(2), QStringLiteral("/dev/b"));
    QCOMPARE(errorOf([&] { pinned.devicePath(3); }), ErrorNumber::InvalidPortNumber);
}

namespace {
// A line that reports a fixed queue and records how long it was asked to drain.
class QueuedLine final : public SerialLine {
public:
    QueuedLine(qint64 queued, std::vector<double>* asked) : queued_(queued), asked_(asked) {}
    void write(const QByteArray&) override {}
    QByteArray readAvailable() override { return {}; }
    void drain(double maxSeconds) override { asked_->push_back(maxSeconds); }
    qint64 outputQueued() override { return queued_; }

private:
    qint64 queued_;
    std::vector<double>* asked_;
};
}  // namespace

void MSCommTest::drainIsBoundedByWhatTheQueueNeedsAtLineSpeed()
{
    std::vector<double> asked;
    qint64 queued = 120;
    MSComm comm([&](short, const LineSettings&) { return std::make_unique<QueuedLine>(queued, &asked); });
    comm.drainOutput();  // closed: nothing to wait for
    QVERIFY(asked.empty());

    // 120 characters of 10 bits at 1200 baud need 1 s; half a second more is the margin.
    comm.setSettings(QStringLiteral("1200,n,8,1"));
    comm.setPortOpen(true);
    comm.drainOutput();
    QCOMPARE(asked.size(), size_t(1));
    QCOMPARE(asked[0], 1.5);

    // Parity and two stop bits make a character 12 bits long.
    comm.setPortOpen(false);
    comm.setSettings(QStringLiteral("9600,e,8,2"));
    comm.setPortOpen(true);
    comm.drainOutput();
    QCOMPARE(asked.size(), size_t(2));
    QCOMPARE(asked[1], 120 * 12.0 / 9600 + 0.5);

    // An empty queue is not waited on.
    queued = 0;
    comm.setPortOpen(false);
    comm.setPortOpen(true);
    comm.drainOutput();
    QCOMPARE(asked.size(), size_t(2));
}

QTEST_GUILESS_MAIN(MSCommTest)
#include "tst_mscomm.moc"
