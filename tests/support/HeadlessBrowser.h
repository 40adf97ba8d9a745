#pragma once
// Debian's chromium, headless, reading a page as a browser does: the DOM
// after the page's scripts ran for budgetMs, or a screenshot.

#include <QByteArray>
#include <QSize>
#include <QTemporaryDir>

class HeadlessBrowser {
public:
    QByteArray dumpDom(const QString& url, int budgetMs = 2500);
    bool screenshot(const QString& url, const QString& png, QSize window, int budgetMs = 2500);
    QString errorString() const { return error_; }

private:
    bool run(const QStringList& args, QByteArray* out = nullptr);
    QTemporaryDir profile_;  // nothing of the user's own browser is read or changed
    QString error_;
};
