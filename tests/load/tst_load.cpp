// pelmora-load against the emulator: what reaches the slot, and the exit
// status each kind of failure leaves.

#include "EmulatorProcess.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Run {
    int status = -1;
    QList<QJsonObject> events;
    QByteArray err;
    QJsonObject result(const QString& port) const
    {
        for (const QJsonObject& e : events)
            if (e[QStringLiteral("event")] == QStringLiteral("result") && e[QStringLiteral("port")] == port)
                return e;
        return {};
    }
};

Run finish(QProcess& p)
{
    Run r;
    if (!p.waitForFinished(120000))
        return r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n'))
        if (!line.isEmpty())
            r.events << QJsonDocument::fromJson(line).object();
    r.err = p.readAllStandardError();
    return r;
}

void start(QProcess& p, const QStringList& args)
{
    p.start(QString::fromLocal8Bit(qgetenv("PELMORA_LOAD")), QStringList{QStringLiteral("--json")} + args);
    p.waitForStarted();
}

QList<QString> payloads(const EmulatorProcess& e)
{
    QList<QString> out;
    for (const QJsonObject& f : e.readFrames())
        out << f[QStringLiteral("payload")].toString();
    return out;
}

// "begun result": the kinds of the lines in a --log file, all of one run.
QString recordKinds(const QString& path)
{
    QFile file(path);
    QStringList kinds;
    QSet<QString> runs;
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray& line : file.readAll().trimmed().split('\n')) {
            const QJsonObject record = QJsonDocument::fromJson(line).object();
            kinds << record[QStringLiteral("record")].toString();
            runs << record[QStringLiteral("run")].toString();
        }
    return runs.size() == 1 ? kinds.join(u' ') : QStringLiteral("several runs");
}

QByteArray label(int size)
{
    QByteArray bytes;
    for (int i = 0; i < size; ++i)
        bytes += char((i * 37 + 11) & 0xff);  // every byte value, 0 and 255 among them
    return bytes;
}

}  // namespace

class LoadTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString write(const QByteArray& bytes)
    {
        const QString path = dir.filePath(QStringLiteral("label.bin"));
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return path;
    }

private slots:
    void loadsByteExact();
    void exitStatus_data();
    void exitStatus();
    void twoDevicesOneHangsUp();
    void closedOutputPipeLetsTheLoadFinish();
    void logThatIsNoRecordFileOpensNothing_data();
    void logThatIsNoRecordFileOpensNothing();
    void secondLoadOnALoadingLineIsRefused();
    void liveTextLockIsHonoured();
    void refusedOverAnotherProgramsSession_data();
    void refusedOverAnotherProgramsSession();
};

void LoadTest::loadsByteExact()
{
    EmulatorProcess device;
    QVERIFY(device.start());
    const QByteArray bytes = label(256);
    const QString log = dir.filePath(QStringLiteral("loads.jsonl"));
    QProcess p;
    start(p, {QStringLiteral("--port"), device.ptyPath(), QStringLiteral("--slot"), QStringLiteral("3"),
              QStringLiteral("--log"), log, write(bytes)});
    const Run run = finish(p);
    QCOMPARE(run.status, 0);
    QFile got(device.outDir() + QStringLiteral("/Externl3.ejf"));
    QVERIFY(got.open(QIODevice::ReadOnly));
    QCOMPARE(got.readAll(), bytes);
    QCOMPARE(payloads(device).last(), QStringLiteral("#End#"));

    QStringList stages;
    for (const QJsonObject& e : run.events)
        if (e[QStringLiteral("event")] == QStringLiteral("stage"))
            stages << e[QStringLiteral("stage")].toString();
    QCOMPARE(stages.join(u' '), QStringLiteral("opening polling slot length streaming draining releasing done"));
    const QJsonObject result = run.result(device.ptyPath());
    QCOMPARE(result[QStringLiteral("exitStatus")].toInt(), 0);
    QCOMPARE(result[QStringLiteral("slotState")].toString(), QStringLiteral("loaded"));
    QCOMPARE(result[QStringLiteral("dataSent")].toInt(), 256);

    QCOMPARE(recordKinds(log), QStringLiteral("begun result"));
    QFile record(log);
    QVERIFY(record.open(QIODevice::ReadOnly));
    const QJsonObject line = QJsonDocument::fromJson(record.readAll().trimmed().split('\n').last()).object();
    QCOMPARE(line[QStringLiteral("sha256")].toString().toLatin1(),
             QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    QCOMPARE(line[QStringLiteral("replies")].toVariant().toStringList(),
             QStringList({QStringLiteral("S"), QStringLiteral("D"), QStringLiteral("U"), QStringLiteral("T")}));
}

void LoadTest::exitStatus_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("lastFrame");  // what the device saw last
    QTest::newRow("3 file refused") << QStringList() << 3 << QString();
    QTest::newRow("6 length refused") << QStringList{QStringLiteral("--reply"), QStringLiteral("length=X")} << 6
                                      << QStringLiteral("%150#");
    QTest::newRow("7 hangs up") << QStringList{QStringLiteral("--hangup-after"), QStringLiteral("20")} << 7
                                << QStringLiteral("data");
    QTest::newRow("129 SIGHUP") << QStringList() << 129 << QStringLiteral("data");
    QTest::newRow("130 SIGINT") << QStringList() << 130 << QStringLiteral("data");
    QTest::newRow("138 SIGUSR1") << QStringList() << 138 << QStringLiteral("data");
}

void LoadTest::exitStatus()
{
    QFETCH(QStringList, faults);
    QFETCH(int, status);
    QFETCH(QString, lastFrame);
    EmulatorProcess device;
    QVERIFY(device.start(faults));
    const QString file = status == 3 ? dir.filePath(QStringLiteral("missing.bin")) : write(label(150));
    const QString log = dir.filePath(QStringLiteral("%1.jsonl").arg(status));
    QProcess p;
    start(p, {QStringLiteral("--port"), device.ptyPath(), QStringLiteral("--slot"), QStringLiteral("2"),
              QStringLiteral("--attempts"), QStringLiteral("2"), QStringLiteral("--log"), log, file});
    if (status > 128) {
        QVERIFY(device.waitForLog([](const QList<QJsonObject>& log) { return log.size() > 40; }));
        ::kill(pid_t(p.processId()), status - 128);
    }
    const Run run = finish(p);
    QCOMPARE(run.status, status);
    QCOMPARE(recordKinds(log), status > 128 ? QStringLiteral("begun interrupted") : QStringLiteral("begun result"));
    const QList<QJsonObject> frames = device.readFrames();
    if (lastFrame.isEmpty()) {
        QVERIFY(frames.isEmpty());
        return;
    }
    QVERIFY(!frames.isEmpty());
    if (status == 6)
        QCOMPARE(payloads(device).count(QStringLiteral("%150#")), 2);  // --attempts 2
    const QJsonObject last = frames.last();
    QCOMPARE(last[QStringLiteral("kind")] == QStringLiteral("data") ? QStringLiteral("data")
                                                                   : last[QStringLiteral("payload")].toString(),
             lastFrame);
    int data = 0;
    for (const QJsonObject& f : frames)
        data += f[QStringLiteral("kind")] == QStringLiteral("data") ? 1 : 0;
    // What the device got is what the result says went out.
    QCOMPARE(run.result(device.ptyPath())[QStringLiteral("dataSent")].toInt(), data);
}

void LoadTest::twoDevicesOneHangsUp()
{
    EmulatorProcess lost, kept;
    QVERIFY(lost.start({QStringLiteral("--hangup-after"), QStringLiteral("30")}));
    QVERIFY(kept.start());
    const QByteArray bytes = label(120);
    QProcess p;
    start(p, {QStringLiteral("--port"), lost.ptyPath(), QStringLiteral("--port"), kept.ptyPath(),
              QStringLiteral("--slot"), QStringLiteral("5"), write(bytes)});
    const Run run = finish(p);
    QCOMPARE(run.status, 1);
    QCOMPARE(run.result(lost.ptyPath())[QStringLiteral("exitStatus")].toInt(), 7);
    QCOMPARE(run.result(lost.ptyPath())[QStringLiteral("slotState")].toString(), QStringLiteral("incomplete"));
    QCOMPARE(run.result(kept.ptyPath())[QStringLiteral("exitStatus")].toInt(), 0);
    QFile got(kept.outDir() + QStringLiteral("/Externl5.ejf"));
    QVERIFY(got.open(QIODevice::ReadOnly));
    QCOMPARE(got.readAll(), bytes);
}

void LoadTest::closedOutputPipeLetsTheLoadFinish()
{
    EmulatorProcess device;
    QVERIFY(device.start());
    const QByteArray bytes = label(200);
    const QString log = dir.filePath(QStringLiteral("piped.jsonl"));
    QProcess shell;  // the label under a Latin-1 name: file names are bytes
    shell.start(QStringLiteral("bash"),
                {QStringLiteral("-c"), QStringLiteral("f=$(printf \"$3\\\\xe9\"); mv \"$3\" \"$f\"; \"$0\" --json --port \"$1\" --slot 1 "
                                                     "--log \"$2\" \"$f\" 2>&1 | head -n 3 >/dev/null; echo \"${PIPESTATUS[0]}\""),
                 QString::fromLocal8Bit(qgetenv("PELMORA_LOAD")), device.ptyPath(), log, write(bytes)});
    QVERIFY(shell.waitForFinished(120000));
    QCOMPARE(shell.readAllStandardOutput().trimmed(), QByteArray("0"));
    QFile got(device.outDir() + QStringLiteral("/Externl1.ejf"));
    QVERIFY(got.open(QIODevice::ReadOnly));
    QCOMPARE(got.readAll(), bytes);
    const QList<QString> frames = payloads(device);
    QVERIFY(frames.size() > 2 && frames[frames.size() - 2] == QStringLiteral("#File#"));
    QCOMPARE(frames.last(), QStringLiteral("#End#"));
    QCOMPARE(recordKinds(log), QStringLiteral("begun result"));
}

void LoadTest::logThatIsNoRecordFileOpensNothing_data()
{
    QTest::addColumn<QString>("log");
    QTest::newRow("the label, by a link") << QStringLiteral("link");
    QTest::newRow("the serial line") << QStringLiteral("line");
    QTest::newRow("empty") << QString();
    QTest::newRow("twice") << QStringLiteral("twice");
}

void LoadTest::logThatIsNoRecordFileOpensNothing()
{
    QFETCH(QString, log);
    EmulatorProcess device;
    QVERIFY(device.start());
    const QByteArray bytes = label(50);
    const QString file = write(bytes);
    const QString link = dir.filePath(QStringLiteral("link.jsonl"));
    QFile::remove(link);
    QVERIFY(QFile::link(file, link));
    const QString record = dir.filePath(QStringLiteral("twice.jsonl"));
    const QHash<QString, QStringList> logs{{QStringLiteral("link"), {link}},
                                           {QStringLiteral("line"), {device.ptyPath()}},
                                           {QString(), {QString()}},
                                           {QStringLiteral("twice"), {record, QStringLiteral("--log"), record}}};
    QProcess p;
    start(p, QStringList{QStringLiteral("--port"), device.ptyPath(), QStringLiteral("--slot"), QStringLiteral("1"),
                         QStringLiteral("--log")} +
                 logs.value(log) + QStringList{file});
    QCOMPARE(finish(p).status, 2);
    QVERIFY(device.readFrames().isEmpty());
    QCOMPARE(QFileInfo(file).size(), bytes.size());  // nothing appended
    QVERIFY(!QFileInfo::exists(record));
}

void LoadTest::secondLoadOnALoadingLineIsRefused()
{
    EmulatorProcess device;
    QVERIFY(device.start());
    QProcess first, second;
    start(first, {QStringLiteral("--port"), device.ptyPath(), QStringLiteral("--slot"), QStringLiteral("1"),
                  write(label(300))});
    QVERIFY(device.waitForLog([](const QList<QJsonObject>& log) { return log.size() > 10; }));
    // The first one's locks: QSerialPort's under Qt's name, ours under the last part.
    const QString qtLock = QStringLiteral("/run/lock/LCK..") + device.ptyPath().mid(5).replace(u'/', u'_');
    const QString lastPartLock = QStringLiteral("/run/lock/LCK..") + QFileInfo(device.ptyPath()).fileName();
    QVERIFY(QFileInfo::exists(qtLock) && QFileInfo::exists(lastPartLock));
    start(second, {QStringLiteral("--port"), device.ptyPath(), QStringLiteral("--slot"), QStringLiteral("2"),
                   QCoreApplication::applicationFilePath()});
    const Run refused = finish(second);
    QCOMPARE(refused.status, 4);
    QVERIFY2(refused.err.contains("locked by pelmora-load") && !refused.err.contains("stale"), refused.err.constData());
    QVERIFY(QFileInfo::exists(qtLock) && QFileInfo::exists(lastPartLock));
    QCOMPARE(finish(first).status, 0);
    QVERIFY2(!QFileInfo::exists(qtLock), qPrintable(qtLock));
    QVERIFY2(!QFileInfo::exists(lastPartLock), qPrintable(lastPartLock));
}

void LoadTest::liveTextLockIsHonoured()
{
    EmulatorProcess device;
    QVERIFY(device.start());
    QTemporaryDir locks;
    QFile lock(locks.filePath(QStringLiteral("LCK..") + device.ptyPath().mid(5).replace(u'/', u'_')));
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(QCoreApplication::applicationPid()).rightJustified(10, ' ') + '\n');
    lock.close();
    QProcess p;
    qputenv("PELMORA_LOCK_DIR", locks.path().toLocal8Bit());
    start(p, {QStringLiteral("--port"), device.ptyPath(), QStringLiteral("--slot"), QStringLiteral("1"),
              write(label(50))});
    qunsetenv("PELMORA_LOCK_DIR");
    const Run run = finish(p);
    QCOMPARE(run.status, 4);
    QVERIFY2(run.err.contains(lock.fileName().toLocal8Bit()), run.err.constData());
    QVERIFY(device.readFrames().isEmpty());
    QVERIFY(lock.exists());
}

void LoadTest::refusedOverAnotherProgramsSession_data()
{
    QTest::addColumn<QString>("command");  // %1 the line, %2 a udev-style link to it
    QTest::addColumn<QString>("port");
    for (const char* port : {"the path", "1"}) {
        QTest::addRow("screen, %s", port) << "screen -dmS held %1 9600" << port;
        QTest::addRow("minicom, %s", port) << "screen -dmS held minicom -o -D %2 -b 9600" << port;
        QTest::addRow("cu, %s", port) << "screen -dmS held cu -l %2 -s 9600" << port;
    }
}

void LoadTest::refusedOverAnotherProgramsSession()
{
    QFETCH(QString, command);
    QFETCH(QString, port);
    EmulatorProcess device;
    QTemporaryDir links, screens;
    QVERIFY(device.start());
    const QString line = device.ptyPath(), link = links.filePath(QStringLiteral("pelmora-test-%1").arg(::getpid()));
    // cu opens the line as uucp.
    QVERIFY(QFile::link(line, link) && ::chmod(qPrintable(line), 0666) == 0 && ::chmod(qPrintable(links.path()), 0755) == 0);
    const QString program = command.section(u' ', 3, 3).startsWith(u'%') ? QStringLiteral("screen") : command.section(u' ', 3, 3);
    qputenv("SCREENDIR", screens.path().toLocal8Bit());
    qputenv("PELMORA_LINK_DIRS", links.path().toLocal8Bit());
    qputenv("PELMORA_PORTS", line.toLocal8Bit());
    const auto screen = [](const QString& args) { return QProcess::execute(QStringLiteral("screen"), args.split(u' ')) == 0; };
    QVERIFY(screen(command.arg(line, link).mid(7)));
    // The session works: what is typed in it reaches the device.
    const auto polls = [&] { return payloads(device).count(QStringLiteral("S")); };
    for (int i = 0; i < 40 && polls() == 0; ++i, QTest::qWait(250))
        screen(QStringLiteral("-S held -X stuff SS\r"));  // its window may not be up yet
    const int typed = polls();
    QVERIFY(typed > 0);

    QProcess p;
    start(p, {QStringLiteral("--port"), port == QStringLiteral("1") ? port : line, QStringLiteral("--slot"), QStringLiteral("1"),
              write(label(20))});
    const Run run = finish(p);
    const QRegularExpressionMatch named = QRegularExpression(QStringLiteral("(\\w+) \\(process (\\d+)")).match(QString::fromLocal8Bit(run.err));
    const pid_t pid = pid_t(named.captured(2).toInt());
    QCOMPARE(run.status, 4);
    QVERIFY2(named.captured(1) == program, run.err.constData());
    QCOMPARE(polls(), typed);  // nothing of pelmora-load's reached the line
    // Its session goes on as it was.
    QVERIFY(screen(QStringLiteral("-S held -X stuff SS\r")));
    QVERIFY(device.waitForLog([&](const QList<QJsonObject>&) { return polls() > typed; }));
    // The program first, so it removes its lock (minicom and cu outlive their window).
    QVERIFY(pid > 0 && ::kill(pid, SIGTERM) == 0);
    QTRY_VERIFY_WITH_TIMEOUT(::kill(pid, 0) != 0, 5000);
    screen(QStringLiteral("-S held -X quit"));
    QVERIFY(!QFileInfo::exists(QStringLiteral("/run/lock/LCK..") + QFileInfo(link).fileName()));
    for (const char* name : {"SCREENDIR", "PELMORA_LINK_DIRS", "PELMORA_PORTS"})
        qunsetenv(name);
}

QTEST_GUILESS_MAIN(LoadTest)
#include "tst_load.moc"
