#include "HeadlessBrowser.h"

#include <QProcess>
#include <unistd.h>

bool HeadlessBrowser::run(const QStringList& args, QByteArray* out)
{
    QProcess p;
    // Chromium's sandbox refuses to run as root.
    p.start(QStringLiteral("chromium"), QStringList{"--headless", "--disable-gpu", "--no-first-run", "--user-data-dir=" + profile_.path()}
                                            + (::geteuid() == 0 ? QStringList{"--no-sandbox"} : QStringList{}) + args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        error_ = QStringLiteral("chromium (scripts/ensure-deps.sh installs it): %1 %2").arg(p.errorString(), p.readAllStandardError());
        p.kill();
        return false;
    }
    if (out)
        *out = p.readAllStandardOutput();
    return true;
}

QByteArray HeadlessBrowser::dumpDom(const QString& url, int budgetMs)
{
    QByteArray dom;
    run({"--window-size=1366,768", QStringLiteral("--virtual-time-budget=%1").arg(budgetMs), "--dump-dom", url}, &dom);
    return dom;
}

bool HeadlessBrowser::screenshot(const QString& url, const QString& png, QSize window, int budgetMs)
{
    return run({QStringLiteral("--window-size=%1,%2").arg(window.width()).arg(window.height()),
                QStringLiteral("--virtual-time-budget=%1").arg(budgetMs), "--screenshot=" + png, url});
}
