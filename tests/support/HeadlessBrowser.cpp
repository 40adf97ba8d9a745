#include "HeadlessBrowser.h"

#include <QProcess>
#include <unistd.h>

bool HeadlessBrowser::run(const QStringList& args, QByteArray* out)
{
    QStringList all{QStringLiteral("--headless"), QStringLiteral("--disable-gpu"), QStringLiteral("--no-first-run"),
                    QStringLiteral("--disable-extensions"), QStringLiteral("--disable-background-networking"),
                    QStringLiteral("--user-data-dir=") + profile_.path()};
    // Chromium's sandbox refuses to run as root.
    if (::geteuid() == 0)
        all << QStringLiteral("--no-sandbox");
    QProcess p;
    p.start(QStringLiteral("chromium"), all + args);
    if (!p.waitForStarted(10000)) {
        error_ = QStringLiteral("chromium did not start (scripts/ensure-deps.sh installs it): ") + p.errorString();
        return false;
    }
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        error_ = QStringLiteral("chromium did not end within a minute");
        return false;
    }
    if (out)
        *out = p.readAllStandardOutput();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        error_ = QStringLiteral("chromium ended with %1: %2").arg(p.exitCode()).arg(QString::fromLocal8Bit(p.readAllStandardError()));
        return false;
    }
    return true;
}

QByteArray HeadlessBrowser::dumpDom(const QString& url, QSize window, int budgetMs)
{
    QByteArray dom;
    run({QStringLiteral("--window-size=%1,%2").arg(window.width()).arg(window.height()),
         QStringLiteral("--virtual-time-budget=%1").arg(budgetMs), QStringLiteral("--dump-dom"), url},
        &dom);
    return dom;
}

bool HeadlessBrowser::screenshot(const QString& url, const QString& png, QSize window, int budgetMs)
{
    return run({QStringLiteral("--window-size=%1,%2").arg(window.width()).arg(window.height()),
                QStringLiteral("--virtual-time-budget=%1").arg(budgetMs), QStringLiteral("--screenshot=") + png, url},
               nullptr);
}
