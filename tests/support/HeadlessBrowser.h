#pragma once
// Debian's chromium, headless, reading a page as a browser does: the DOM
// after the page's scripts ran, or a screenshot at a window size.

#include <QByteArray>
#include <QSize>
#include <QString>
#include <QTemporaryDir>

class HeadlessBrowser {
public:
    // The DOM after budgetMs of the page's own time (its polls, its drawing).
    QByteArray dumpDom(const QString& url, QSize window = {1366, 768}, int budgetMs = 2500);
    bool screenshot(const QString& url, const QString& png, QSize window, int budgetMs = 2500);
    QString errorString() const { return error_; }

private:
    bool run(const QStringList& args, QByteArray* out);

    QTemporaryDir profile_;  // nothing of the user's own browser is read or changed
    QString error_;
};
