#include "Report.h"

#include "ExitStatus.h"
#include "wire/Exchanges.h"

std::unique_ptr<Report> makeReport(ReportKind kind, const QList<ChosenPort>& ports, const LabelFileFacts& file, int slot)
{
    switch (kind) {
    case ReportKind::Live: return makeLiveReport(ports, file, slot);
    case ReportKind::Plain: return makePlainReport(ports, file, slot, false);
    case ReportKind::Json: return makeJsonReport(ports, file, slot);
    case ReportKind::Quiet: return makePlainReport(ports, file, slot, true);
    }
    return makePlainReport(ports, file, slot, false);
}

namespace ReportText {

QString clock(qint64 wholeSeconds)
{
    return QStringLiteral("%1:%2").arg(wholeSeconds / 60).arg(wholeSeconds % 60, 2, 10, QLatin1Char('0'));
}

QString sent(const LoadResult& r, qint64 total)
{
    return QStringLiteral("%1 of %2 data bytes sent, \"#File#\" %3")
        .arg(r.dataSent)
        .arg(total)
        .arg(r.endSent ? QStringLiteral("sent") : QStringLiteral("not sent"));
}

QString outcome(const LoadResult& r, qint64 total, int slot)
{
    if (r.exitStatus == ExitStatus::Loaded)
        return QStringLiteral("loaded into %1 (%2 bytes), released").arg(Wire::slotFileName(slot)).arg(total);
    return QStringLiteral("status %1, %2: %3; %4; slot %5")
        .arg(r.exitStatus)
        .arg(r.result, r.error, sent(r, total), r.slotState);
}

QString summary(const QList<ChosenPort>& ports, const QList<LoadResult>& results, qint64 total)
{
    int width = 4;
    for (const ChosenPort& p : ports)
        width = std::max(width, int(p.path.size()));
    QString table = QStringLiteral("%1  %2  %3  %4  %5\n")
                        .arg(QStringLiteral("PORT"), -width)
                        .arg(QStringLiteral("STATUS"))
                        .arg(QStringLiteral("RESULT"), -16)
                        .arg(QStringLiteral("DATA SENT"), -13)
                        .arg(QStringLiteral("SLOT"));
    for (int i = 0; i < ports.size(); ++i) {
        const LoadResult& r = results[i];
        table += QStringLiteral("%1  %2  %3  %4  %5\n")
                     .arg(ports[i].path, -width)
                     .arg(r.exitStatus, 6)
                     .arg(r.result, -16)
                     .arg(QStringLiteral("%1/%2").arg(r.dataSent).arg(total), -13)
                     .arg(r.slotState);
    }
    return table;
}

}  // namespace ReportText
