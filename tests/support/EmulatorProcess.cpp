#include "EmulatorProcess.h"

#include <QCoreApplication>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QThread>

EmulatorProcess::EmulatorProcess()
{
    QDir(m_dir.path()).mkdir(QStringLiteral("out"));
}

EmulatorProcess::~EmulatorProcess()
{
    stop(5000);
}

QString EmulatorProcess::program()
{
    const QString fromEnv = qEnvironmentVariable("PELMORA_EMULATOR");
    if (!fromEnv.isEmpty())
        return fromEnv;
    const QString binDir = qEnvironmentVariable("PELMORA_BIN_DIR");
    // Everything built lands in one folder, so beside this program will do.
    return (binDir.isEmpty() ? QCoreApplication::applicationDirPath() : binDir) + QStringLiteral("/rv7k-emulator");
}

QString EmulatorProcess::logPath() const
{
    return m_dir.filePath(QStringLiteral("emulator.jsonl"));
}

QString EmulatorProcess::outDir() const
{
    return m_dir.filePath(QStringLiteral("out"));
}

bool EmulatorProcess::start(const QStringList& extraArgs)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    QStringList args{QStringLiteral("--pty"), QStringLiteral("--log"), logPath(), QStringLiteral("--out"), outDir()};
    args += extraArgs;
    m_process.setProgram(program());
    m_process.setArguments(args);
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start();
    if (!m_process.waitForStarted(10000)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(program(), m_process.errorString());
        return false;
    }
    QDeadlineTimer deadline(10000);
    while (!m_process.canReadLine()) {
        if (deadline.hasExpired() || !m_process.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            m_error = QStringLiteral("no line path from the emulator: %1")
                          .arg(QString::fromLocal8Bit(m_process.readAllStandardError()));
            return false;
        }
    }
    m_ptyPath = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    return !m_ptyPath.isEmpty();
}

QList<QJsonObject> EmulatorProcess::readLog() const
{
    QList<QJsonObject> lines;
    QFile file(logPath());
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    const QByteArray all = file.readAll();
    // Only lines that have their newline are complete.
    const qsizetype end = all.lastIndexOf('\n');
    if (end < 0)
        return lines;
    for (const QByteArray& line : all.left(end).split('\n')) {
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        if (doc.isObject())
            lines.append(doc.object());
    }
    return lines;
}

QList<QJsonObject> EmulatorProcess::readFrames() const
{
    QList<QJsonObject> frames;
    for (const QJsonObject& o : readLog())
        if (o.contains(QStringLiteral("payload")))
            frames.append(o);
    return frames;
}

bool EmulatorProcess::waitForLog(const std::function<bool(const QList<QJsonObject>&)>& pred, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (pred(readLog()))
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(5);
    }
}

bool EmulatorProcess::waitForFrames(int count, int timeoutMs) const
{
    return waitForLog(
        [count](const QList<QJsonObject>& log) {
            qsizetype frames = 0;
            for (const QJsonObject& o : log)
                frames += o.contains(QStringLiteral("payload")) ? 1 : 0;
            return frames >= count;
        },
        timeoutMs);
}

bool EmulatorProcess::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

bool EmulatorProcess::waitForExit(int timeoutMs)
{
    return !isRunning() || m_process.waitForFinished(timeoutMs);
}

int EmulatorProcess::stop(int timeoutMs)
{
    if (m_process.state() == QProcess::NotRunning)
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    m_process.terminate();
    if (!m_process.waitForFinished(timeoutMs)) {
        m_process.kill();
        m_process.waitForFinished(timeoutMs);
        return -1;
    }
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}
