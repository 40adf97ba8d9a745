#pragma once

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

// The device emulator (rv7k-emulator) as a child process on a pseudo-terminal,
// with its log and its output folder in a temporary folder of its own.
// The binary is found through PELMORA_EMULATOR (set by CTest), else in
// PELMORA_BIN_DIR.
class EmulatorProcess {
public:
    EmulatorProcess();
    ~EmulatorProcess();
    EmulatorProcess(const EmulatorProcess&) = delete;
    EmulatorProcess& operator=(const EmulatorProcess&) = delete;

    static QString program();

    // Starts "--pty --log <logPath> --out <outDir>" plus extraArgs and waits
    // for the line's path. False (see errorString) when it does not come up.
    bool start(const QStringList& extraArgs = {});

    QString ptyPath() const { return m_ptyPath; }
    QString logPath() const;
    QString outDir() const;
    // The folder holding the log and outDir(), for checks outside outDir().
    QString workDir() const { return m_dir.path(); }
    QString errorString() const { return m_error; }

    // Every complete line of the log, in order.
    QList<QJsonObject> readLog() const;
    // Frame lines only (those with a "payload").
    QList<QJsonObject> readFrames() const;
    // Reads the log until pred holds for it or timeoutMs pass; the last read log.
    bool waitForLog(const std::function<bool(const QList<QJsonObject>&)>& pred, int timeoutMs = 10000) const;
    // Waits until the log holds at least count frame lines.
    bool waitForFrames(int count, int timeoutMs = 10000) const;

    bool isRunning() const;
    // For freezing it (SIGSTOP) as a device that stops taking data.
    qint64 processId() const { return m_process.processId(); }
    // Waits for the process to end on its own; false if it does not.
    bool waitForExit(int timeoutMs = 10000);
    // SIGTERM, then waits; returns the exit status (-1 if it crashed or hung).
    int stop(int timeoutMs = 10000);
    int exitCode() const { return m_process.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }
    QByteArray readStderr() { return m_process.readAllStandardError(); }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_ptyPath;
    QString m_error;
};
