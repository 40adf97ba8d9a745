// The device emulator, driven over its pseudo-terminal like the program drives
// the device. Frames are built here with their own small helper, and the
// table's wire bytes are written out literally where it gives them.

#include "EmulatorProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

QByteArray frame(const QByteArray& payload)
{
    int acc = 0;
    for (const char c : payload)
        acc ^= static_cast<unsigned char>(c);
    if (acc < 16)
        acc += 16;
    return payload + char(acc) + '\r';
}

double monotonicNow()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// The other end of the line, opened the way a serial program opens it.
class Slave {
public:
    bool open(const QString& path)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY);
        if (m_fd < 0)
            return false;
        termios t{};
        if (tcgetattr(m_fd, &t) != 0)
            return false;
        cfmakeraw(&t);
        return tcsetattr(m_fd, TCSANOW, &t) == 0;
    }
    ~Slave() { close(); }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    bool write(const QByteArray& bytes)
    {
        return ::write(m_fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // Reads until count bytes came or timeoutMs passed.
    QByteArray read(qsizetype count, int timeoutMs = 10000)
    {
        QByteArray got;
        QElapsedTimer timer;
        timer.start();
        while (got.size() < count) {
            const int left = timeoutMs - int(timer.elapsed());
            pollfd p{m_fd, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, left) <= 0 || !(p.revents & POLLIN))
                break;
            char buf[256];
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n <= 0)
                break;
            got.append(buf, n);
        }
        return got;
    }
    // Whatever is waiting now, after a short grace.
    QByteArray pending(int graceMs = 100) { return read(1 << 20, graceMs); }
    // True when the line hangs up within timeoutMs (poll says so and reading fails).
    bool seesHangup(int timeoutMs)
    {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLHUP))
            return false;
        char c;
        const ssize_t n = ::read(m_fd, &c, 1);
        return n == 0 || (n < 0 && errno == EIO);
    }
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

QString text(const QJsonObject& o, const char* key)
{
    return o.value(QLatin1String(key)).toString();
}

QList<QJsonObject> events(const QList<QJsonObject>& log, const QString& name)
{
    QList<QJsonObject> found;
    for (const QJsonObject& o : log)
        if (text(o, "event") == name)
            found.append(o);
    return found;
}

QByteArray runToEnd(const QStringList& args, int* exitCode, QByteArray* err = nullptr)
{
    QProcess p;
    p.start(EmulatorProcess::program(), args);
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished();
        *exitCode = -1;
        return {};
    }
    *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    if (err)
        *err = p.readAllStandardError();
    return p.readAllStandardOutput();
}

} // namespace

#define START(emu, slave, ...)                                   \
    EmulatorProcess emu;                                         \
    QVERIFY2(emu.start(__VA_ARGS__), qPrintable(emu.errorString())); \
    Slave slave;                                                 \
    QVERIFY(slave.open(emu.ptyPath()))

class TestEmulator : public QObject {
    Q_OBJECT

private slots:
    void commandReplies_data();
    void commandReplies();
    void malformedFramesGetNoReply();
    void framesAcrossAndWithinWrites();
    void uploadWritesIdenticalFile();
    void refusesSlotNamesWithPaths_data();
    void refusesSlotNamesWithPaths();
    void survivesPortReopened();
    void silent();
    void lateRepliesKeepReading();
    void replyOverrides_data();
    void replyOverrides();
    void noRelease();
    void releaseAfter();
    void hangupAfterDataFrames();
    void servesGivenDevice();
    void helpAndBadOptions();
    void sigtermEndsCleanly();
};

void TestEmulator::commandReplies_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("payload");
    QTest::newRow("poll") << QByteArray("\x53\x53\x0D") << QByteArray("S") << "poll" << "S";
    QTest::newRow("slot name") << QByteArray("#Externl1.ejf#\x2A\x0D") << QByteArray("D") << "name" << "#Externl1.ejf#";
    QTest::newRow("slot 3 name") << QByteArray("#Externl3.ejf#\x28\x0D") << QByteArray("D") << "name" << "#Externl3.ejf#";
    QTest::newRow("length") << QByteArray("%1234#\x12\x0D") << QByteArray("U") << "length" << "%1234#";
    QTest::newRow("empty length") << QByteArray("%0#\x36\x0D") << QByteArray("U") << "length" << "%0#";
    QTest::newRow("release") << QByteArray("#End#\x4F\x0D") << QByteArray("T") << "end" << "#End#";
    QTest::newRow("data 65") << QByteArray("\x36\x35\x13\x0D") << QByteArray() << "data" << "65";
    QTest::newRow("data 0") << QByteArray("\x30\x30\x0D") << QByteArray() << "data" << "0";
    QTest::newRow("data 255") << QByteArray("\x32\x35\x35\x32\x0D") << QByteArray() << "data" << "255";
    QTest::newRow("end of file") << QByteArray("#File#\x26\x0D") << QByteArray() << "file" << "#File#";
}

void TestEmulator::commandReplies()
{
    QFETCH(QByteArray, wire);
    QFETCH(QByteArray, reply);
    QFETCH(QString, kind);
    QFETCH(QString, payload);
    START(emu, slave);
    QVERIFY(slave.write(wire));
    QCOMPARE(slave.read(reply.size()), reply);
    QVERIFY(emu.waitForFrames(1));
    QCOMPARE(slave.pending(), QByteArray());  // nothing beyond the reply
    const QJsonObject f = emu.readFrames().first();
    QCOMPARE(text(f, "payload"), payload);
    QCOMPARE(f.value("ok").toBool(), true);
    QCOMPARE(text(f, "kind"), kind);
    QCOMPARE(text(f, "reply"), QString::fromLatin1(reply));
    QVERIFY(f.value("t").isDouble());
}

void TestEmulator::malformedFramesGetNoReply()
{
    START(emu, slave);
    const QList<QByteArray> bad{
        QByteArray("ST\r"),           // poll with a wrong check byte
        QByteArray("\r"),             // nothing before the carriage return
        QByteArray("#End#o\r"),       // check byte in the wrong case
        frame("S").left(1) + '\r',    // check byte missing: "S" alone is judged as check of ""
    };
    for (const QByteArray& b : bad)
        QVERIFY(slave.write(b));
    // Well formed but nothing the device knows, including numbers written
    // differently from the program's way.
    const QList<QByteArray> unknown{"s", "007", "256", "%01#", "% 12#", "-1", "T"};
    for (const QByteArray& p : unknown)
        QVERIFY(slave.write(frame(p)));
    QVERIFY(emu.waitForFrames(int(bad.size() + unknown.size())));
    QCOMPARE(slave.pending(), QByteArray());

    const QList<QJsonObject> frames = emu.readFrames();
    for (qsizetype i = 0; i < bad.size(); ++i) {
        QCOMPARE(frames[i].value("ok").toBool(true), false);
        QCOMPARE(text(frames[i], "reply"), QString());
        QVERIFY(!text(frames[i], "error").isEmpty());
    }
    QCOMPARE(text(frames[0], "payload"), QString("S"));
    for (qsizetype i = 0; i < unknown.size(); ++i) {
        const QJsonObject& f = frames[bad.size() + i];
        QCOMPARE(f.value("ok").toBool(), true);
        QCOMPARE(text(f, "kind"), QString("unknown"));
        QCOMPARE(text(f, "payload"), QString::fromLatin1(unknown[i]));
    }

    // The stream is not thrown off by what came before.
    QVERIFY(slave.write(frame("S")));
    QCOMPARE(slave.read(1), QByteArray("S"));
}

void TestEmulator::framesAcrossAndWithinWrites()
{
    START(emu, slave);
    // One frame a byte at a time, then three frames in one write.
    for (const char c : frame("S")) {
        QVERIFY(slave.write(QByteArray(1, c)));
        QTest::qWait(20);
    }
    QCOMPARE(slave.read(1), QByteArray("S"));
    QVERIFY(slave.write(frame("#Externl2.ejf#") + frame("%7#") + frame("#End#")));
    QCOMPARE(slave.read(3), QByteArray("DUT"));
    // Payload bytes outside printable ASCII reach the log escaped, intact.
    QVERIFY(slave.write(frame(QByteArray("a\x01\"\\\xff", 5))));
    QVERIFY(emu.waitForFrames(5));
    QCOMPARE(text(emu.readFrames().last(), "payload"), QString::fromLatin1("a\x01\"\\\xff", 5));
}

void TestEmulator::uploadWritesIdenticalFile()
{
    START(emu, slave);
    QByteArray content;
    for (int v = 0; v < 256; ++v)
        content.append(char(v));
    content.append(content.right(128));  // and again, so order matters

    QVERIFY(slave.write(frame("#Externl1.ejf#")));
    QCOMPARE(slave.read(1), QByteArray("D"));
    QVERIFY(slave.write(frame("%" + QByteArray::number(content.size()) + "#")));
    QCOMPARE(slave.read(1), QByteArray("U"));
    for (const char c : content)
        QVERIFY(slave.write(frame(QByteArray::number(static_cast<unsigned char>(c)))));
    QVERIFY(slave.write(frame("#File#")));
    QVERIFY(emu.waitForLog([](const QList<QJsonObject>& log) { return !events(log, "file-written").isEmpty(); }));
    QCOMPARE(slave.pending(), QByteArray());  // data and end of file get no reply

    QFile written(emu.outDir() + "/Externl1.ejf");
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), content);
    const QJsonObject ev = events(emu.readLog(), "file-written").first();
    QCOMPARE(ev.value("bytes").toInt(), content.size());
    QCOMPARE(ev.value("announced").toInt(), content.size());
    QCOMPARE(QDir(emu.outDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"Externl1.ejf"});

    // A stray second end of file without a new slot name leaves the file alone,
    // and the next upload starts from an empty buffer.
    QVERIFY(slave.write(frame("7") + frame("#File#")));
    QVERIFY(slave.write(frame("#Externl2.ejf#") + frame("%3#") + frame("97") + frame("98") + frame("99")
                        + frame("#File#")));
    QCOMPARE(slave.read(2), QByteArray("DU"));
    QVERIFY(emu.waitForLog([](const QList<QJsonObject>& log) { return events(log, "file-written").size() == 2; }));
    QCOMPARE(events(emu.readLog(), "file-not-written").size(), 1);
    written.close();
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), content);
    QFile second(emu.outDir() + "/Externl2.ejf");
    QVERIFY(second.open(QIODevice::ReadOnly));
    QCOMPARE(second.readAll(), QByteArray("abc"));
}

void TestEmulator::refusesSlotNamesWithPaths_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("parent") << QByteArray("../evil.ejf");
    QTest::newRow("subfolder") << QByteArray("a/b.ejf");
    QTest::newRow("absolute") << QByteArray("/tmp/evil.ejf");
    QTest::newRow("dot dot") << QByteArray("..");
    QTest::newRow("blank") << QByteArray("Externl 1.ejf");
    QTest::newRow("empty") << QByteArray();
}

void TestEmulator::refusesSlotNamesWithPaths()
{
    QFETCH(QByteArray, name);
    START(emu, slave);
    // A good name first: the refused one must not fall back to it.
    QVERIFY(slave.write(frame("#Externl1.ejf#")));
    QCOMPARE(slave.read(1), QByteArray("D"));
    QVERIFY(slave.write(frame("#" + name + "#")));
    QVERIFY(slave.write(frame("%2#") + frame("69") + frame("86") + frame("#File#")));
    QCOMPARE(slave.read(1), QByteArray("U"));  // the length is still answered
    QVERIFY(emu.waitForFrames(6));
    QCOMPARE(slave.pending(), QByteArray());   // but never the refused name

    const QList<QJsonObject> log = emu.readLog();
    const QList<QJsonObject> refused = events(log, "refused-name");
    QCOMPARE(refused.size(), 1);
    QCOMPARE(text(refused.first(), "name"), QString::fromLatin1(name));
    QVERIFY(events(log, "file-written").isEmpty());
    QCOMPARE(QDir(emu.outDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    QCOMPARE(QDir(emu.workDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             (QStringList{"emulator.jsonl", "out"}));
    QVERIFY(!QFile::exists("/tmp/evil.ejf"));
}

void TestEmulator::survivesPortReopened()
{
    START(emu, slave);
    QVERIFY(slave.write(frame("S")));
    QCOMPARE(slave.read(1), QByteArray("S"));
    slave.close();
    QTest::qWait(100);
    QVERIFY(emu.isRunning());
    QVERIFY(slave.open(emu.ptyPath()));
    QVERIFY(slave.write(frame("S")));
    QCOMPARE(slave.read(1), QByteArray("S"));
}

void TestEmulator::silent()
{
    START(emu, slave, {"--silent"});
    QVERIFY(slave.write(frame("S") + frame("#Externl1.ejf#") + frame("%5#") + frame("#End#")));
    QVERIFY(emu.waitForFrames(4));
    QCOMPARE(slave.pending(), QByteArray());
    for (const QJsonObject& f : emu.readFrames()) {
        QCOMPARE(f.value("ok").toBool(), true);
        QCOMPARE(text(f, "reply"), QString());
    }
}

void TestEmulator::lateRepliesKeepReading()
{
    const double late = 0.4;
    START(emu, slave, {"--late", QString::number(late)});
    QElapsedTimer timer;
    const double before = monotonicNow();
    timer.start();
    QVERIFY(slave.write(frame("S")));
    QTest::qWait(100);
    const qint64 secondWrittenNs = timer.nsecsElapsed();
    QVERIFY(slave.write(frame("#Externl1.ejf#")));

    QCOMPARE(slave.read(1), QByteArray("S"));
    QVERIFY(timer.nsecsElapsed() >= qint64(late * 1e9));
    QCOMPARE(slave.read(1), QByteArray("D"));
    QVERIFY(timer.nsecsElapsed() - secondWrittenNs >= qint64(late * 1e9));
    const double after = monotonicNow();

    // Both frames were read as they came, before the first reply went out.
    QVERIFY(emu.waitForLog([](const QList<QJsonObject>& log) { return events(log, "reply-sent").size() == 2; }));
    const QList<QJsonObject> log = emu.readLog();
    QList<QJsonObject> frames;
    for (const QJsonObject& o : log)
        if (o.contains("payload"))
            frames.append(o);
    const QList<QJsonObject> sent = events(log, "reply-sent");
    QCOMPARE(frames.size(), 2);
    QVERIFY(frames[1].value("t").toDouble() < sent[0].value("t").toDouble());
    for (int i = 0; i < 2; ++i)
        QVERIFY(sent[i].value("t").toDouble() - frames[i].value("t").toDouble() >= late);
    QCOMPARE(text(sent[0], "reply"), QString("S"));
    // Timestamps are on the monotonic clock.
    QVERIFY(frames[0].value("t").toDouble() >= before);
    QVERIFY(sent[1].value("t").toDouble() <= after);
}

void TestEmulator::replyOverrides_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("poll=xS") << "poll=xS" << QByteArray("S") << QByteArray("xS");
    QTest::newRow("name= D") << "name= D" << QByteArray("#Externl1.ejf#") << QByteArray(" D");
    QTest::newRow("length=") << "length=" << QByteArray("%12#") << QByteArray();
    QTest::newRow("end=t") << "end=t" << QByteArray("#End#") << QByteArray("t");
    QTest::newRow("data=S") << "data=S" << QByteArray("65") << QByteArray("S");
}

void TestEmulator::replyOverrides()
{
    QFETCH(QString, option);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, reply);
    START(emu, slave, {"--reply", option});
    QVERIFY(slave.write(frame(payload)));
    QCOMPARE(slave.read(reply.size()), reply);
    QVERIFY(emu.waitForFrames(1));
    QCOMPARE(slave.pending(), QByteArray());
    // The other commands keep their replies.
    QVERIFY(slave.write(frame(payload == "S" ? "#End#" : "S")));
    QCOMPARE(slave.read(1), QByteArray(payload == "S" ? "T" : "S"));
}

void TestEmulator::noRelease()
{
    START(emu, slave, {"--no-release"});
    QVERIFY(slave.write(frame("#End#") + frame("#End#") + frame("#End#")));
    QVERIFY(emu.waitForFrames(3));
    QCOMPARE(slave.pending(), QByteArray());
    QVERIFY(slave.write(frame("S")));
    QCOMPARE(slave.read(1), QByteArray("S"));
}

void TestEmulator::releaseAfter()
{
    START(emu, slave, {"--release-after", "3"});
    QVERIFY(slave.write(frame("#End#") + frame("#End#")));
    QVERIFY(emu.waitForFrames(2));
    QCOMPARE(slave.pending(), QByteArray());
    QVERIFY(slave.write(frame("#End#")));
    QCOMPARE(slave.read(1), QByteArray("T"));
    QVERIFY(slave.write(frame("#End#")));
    QCOMPARE(slave.read(1), QByteArray("T"));
    const QList<QJsonObject> frames = emu.readFrames();
    QCOMPARE(text(frames[0], "reply"), QString());
    QCOMPARE(text(frames[2], "reply"), QString("T"));
}

void TestEmulator::hangupAfterDataFrames()
{
    START(emu, slave, {"--hangup-after", "3"});
    // Frames that are not data, or not well formed, do not count.
    QVERIFY(slave.write(frame("S") + frame("1") + QByteArray("2\x30\r") + frame("2")));
    QCOMPARE(slave.read(1), QByteArray("S"));
    QVERIFY(emu.waitForFrames(4));
    QVERIFY(!slave.seesHangup(200));
    QVERIFY(emu.isRunning());

    QVERIFY(slave.write(frame("3")));
    QVERIFY(slave.seesHangup(10000));
    QVERIFY(emu.waitForExit());
    QCOMPARE(emu.exitStatus(), QProcess::NormalExit);
    QCOMPARE(emu.exitCode(), 0);
    const QList<QJsonObject> hangups = events(emu.readLog(), "hangup");
    QCOMPARE(hangups.size(), 1);
    QCOMPARE(hangups.first().value("data-frames").toInt(), 3);
}

void TestEmulator::servesGivenDevice()
{
    // A pseudo-terminal of the test's own stands for the serial device.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(master >= 0);
    QVERIFY(fcntl(master, F_SETFD, FD_CLOEXEC) == 0);  // or the emulator would hold it too
    QVERIFY(grantpt(master) == 0 && unlockpt(master) == 0);
    const QString path = QString::fromLocal8Bit(ptsname(master));
    QTemporaryDir dir;
    QProcess p;
    p.start(EmulatorProcess::program(), {"--device", path, "--log", dir.filePath("log.jsonl")});
    QVERIFY(p.waitForStarted());
    QVERIFY(p.waitForReadyRead(10000));
    QCOMPARE(QString::fromLocal8Bit(p.readLine()).trimmed(), path);

    const QByteArray poll = frame("S") + frame("#Externl1.ejf#");
    QCOMPARE(::write(master, poll.constData(), size_t(poll.size())), ssize_t(poll.size()));
    QByteArray got;
    QElapsedTimer timer;
    timer.start();
    while (got.size() < 2 && timer.elapsed() < 10000) {
        pollfd pfd{master, POLLIN, 0};
        if (::poll(&pfd, 1, 100) > 0) {
            char buf[16];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0)
                got.append(buf, n);
        }
    }
    QCOMPARE(got, QByteArray("SD"));  // raw mode: no echo of the frames

    // The device going away ends the emulator with a failure.
    ::close(master);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 1);
}

void TestEmulator::helpAndBadOptions()
{
    int code = -1;
    const QString help = QString::fromLocal8Bit(runToEnd({"--help"}, &code));
    QCOMPARE(code, 0);
    const QStringList options{"--pty", "--device", "--out", "--log", "--silent", "--late", "--reply",
                              "--no-release", "--release-after", "--hangup-after", "--help"};
    const QStringList lines = help.split('\n');
    for (const QString& option : options) {
        const auto described = std::count_if(lines.cbegin(), lines.cend(), [&](const QString& l) {
            const QString t = l.trimmed();
            return t.startsWith(option + ' ') && t.size() > option.size() + 10;
        });
        QVERIFY2(described == 1, qPrintable(option));
    }

    const QList<QStringList> bad{
        {"--pty", "--bogus"},
        {"--pty", "--late", "soon"},
        {"--pty", "--late", "-1"},
        {"--pty", "--reply", "bogus=x"},
        {"--pty", "--reply", "poll"},
        {"--pty", "--release-after", "0"},
        {"--pty", "--hangup-after", "x"},
        {"--pty", "--out", "/nonexistent/folder"},
        {"--pty", "--late"},
        {},
        {"--pty", "--device", "/dev/null"},
        {"--pty", "stray"},
    };
    for (const QStringList& args : bad) {
        QByteArray err;
        runToEnd(args, &code, &err);
        QVERIFY2(code == 2, qPrintable(args.join(' ')));
        QVERIFY2(!err.isEmpty(), qPrintable(args.join(' ')));
    }
}

void TestEmulator::sigtermEndsCleanly()
{
    START(emu, slave);
    QVERIFY(slave.write(frame("S")));
    QCOMPARE(slave.read(1), QByteArray("S"));
    QCOMPARE(emu.stop(), 0);
    QCOMPARE(emu.exitStatus(), QProcess::NormalExit);
    const QList<QJsonObject> log = emu.readLog();
    QVERIFY(!log.isEmpty());
    QCOMPARE(text(log.last(), "event"), QString("stop"));
    QVERIFY(slave.seesHangup(5000));
}

QTEST_GUILESS_MAIN(TestEmulator)
#include "tst_emulator.moc"
