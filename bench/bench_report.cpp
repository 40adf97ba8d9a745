// The shift report on a long ledger: a ledger of 20,000 units (argument 1
// for another count) over 16 fixtures and two recipes, with failures,
// interruptions and reloads, and `pelmora-ledger report --html` on it three
// times: its time and size, next to `summary` on the same ledger as the
// baseline. Argument 2 keeps the last report at that path, to look at, and
// the ledger beside it (PATH.sqlite).

#include "ledger/LocalLedger.h"
#include "ledger/ReasonCode.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>

using namespace Ledger;

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Seconds a run of pelmora-ledger took, or -1 when it failed.
double timed(const QStringList& arguments)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const auto start = Clock::now();
    p.start(QCoreApplication::applicationDirPath() + QStringLiteral("/pelmora-ledger"), arguments);
    p.waitForFinished(-1);
    const double seconds = since(start);
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int units = argc > 1 ? std::atoi(argv[1]) : 20000;
    const QString keep = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    // In memory where there is such a file system: the ledger is written a unit at a time.
    QTemporaryDir dir((QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm") : QDir::tempPath())
                      + QStringLiteral("/bench_report-XXXXXX"));
    const QString path = dir.filePath(QStringLiteral("ledger.sqlite"));
    {
        const auto start = Clock::now();
        LocalLedger::newStation(path, QStringLiteral("line 7 <bench>"));
        LocalLedger ledger(path);
        const QDateTime shift(QDate(2026, 12, 9), QTime(6, 0), Qt::UTC);
        const std::string_view reasons[] = {Reason::TakenOut, Reason::NoAnswer, Reason::NoRelease, Reason::RefusedLength,
                                            Reason::LineLost, Reason::FileChanged};
        for (int n = 0; n < units; ++n) {
            const int fixture = n % 16;
            UnitRecord r;
            r.id = QUuid::createUuid();
            r.host = QStringLiteral("bench-pc");
            r.fixtureName = QStringLiteral("F%1").arg(fixture);
            r.fixturePath = QStringLiteral("/dev/ttyUSB%1").arg(fixture);
            r.unitNumber = n + 1;
            r.recipeName = fixture < 12 ? QStringLiteral("line 7 labels, rev C") : QStringLiteral("line 7 labels, rev D");
            r.recipeSha256 = QString(64, fixture < 12 ? QLatin1Char('c') : QLatin1Char('d'));
            r.toolVersion = QStringLiteral("1.00.0011");
            // Each fixture takes a unit about every 45 s; one in 40 is a serial loaded again.
            r.start = shift.addMSecs(qint64(n / 16) * 45'000 + fixture * 2'500);
            r.serial = QStringLiteral("SN%1").arg(n % 40 == 39 ? n - 16 : n, 7, 10, QLatin1Char('0'));
            for (int slot : {1, 3})
                r.labels.append({slot, QStringLiteral("label%1.epl").arg(slot), QString(64, QLatin1Char('b')), 30000,
                                 30000, true, true, QStringLiteral("loaded"), {}});
            ledger.begin(r);
            r.end = r.start.addMSecs(30'000 + (n * 7919) % 12'000);
            r.result = n % 23 == 0 ? QStringLiteral("fail") : n % 97 == 0 ? QStringLiteral("interrupted") : QStringLiteral("pass");
            if (r.result == QLatin1String("fail")) {
                r.reason = Reason::text(reasons[(n / 23) % (n % 3 == 0 ? 2 : 6)]);
                r.why = QStringLiteral("slot 3: <no answer> within 2 s & \"then\" none");
            } else if (r.result == QLatin1String("interrupted")) {
                r.reason = Reason::text(Reason::Interrupted);
                r.why = QStringLiteral("the station ended");
            }
            ledger.close(r);
        }
        std::printf("ledger of %d units written in %.0f s, %.1f MB\n", units, since(start),
                    double(QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size()) / 1e6);
    }
    const QStringList where{QStringLiteral("--ledger"), path};
    const QString html = dir.filePath(QStringLiteral("report.html"));
    for (int run = 0; run < 3; ++run) {
        const double baseline = timed(where + QStringList{QStringLiteral("summary")});
        const double seconds =
            timed(where + QStringList{QStringLiteral("report"), QStringLiteral("--html"), html, QStringLiteral("--timezone"),
                                      QStringLiteral("Europe/Berlin")});
        std::printf("report --html of %d units: %.2f s, %.2f MB (summary, the baseline: %.2f s)%s\n", units, seconds,
                    double(QFileInfo(html).size()) / 1e6, baseline, seconds < 0 ? " FAILED" : "");
    }
    if (!keep.isEmpty()) {
        for (const auto& [from, to] : {std::pair{html, keep}, std::pair{path, keep + QStringLiteral(".sqlite")}}) {
            QFile::remove(to);
            QFile::copy(from, to);
        }
    }
    return 0;
}
