#include "ledger/CsvExport.h"

#include "ledger/RecordText.h"

#include <QStringList>

using namespace Ledger;

namespace {

// RFC 4180: a field with a comma, quote or line break is quoted, quotes doubled.
QString field(const QString& value)
{
    if (!value.contains(QLatin1Char(',')) && !value.contains(QLatin1Char('"')) && !value.contains(QLatin1Char('\n'))
        && !value.contains(QLatin1Char('\r')))
        return value;
    QString v = value;
    return QLatin1Char('"') + v.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

// Text a spreadsheet would take for a formula is kept text: a file or
// fixture name is never run as one.
QString text(const QString& value)
{
    static const QString starts = QStringLiteral("=+-@\t\r");
    if (!value.isEmpty() && starts.contains(value.front()))
        return field(QLatin1Char('\'') + value);
    return field(value);
}

QString yesNo(bool b)
{
    return b ? QStringLiteral("yes") : QStringLiteral("no");
}

}  // namespace

QByteArray Ledger::csvText(const QList<UnitRecord>& units)
{
    return csvHead() + csvRows(units);
}

QByteArray Ledger::csvHead()
{
    QStringList header{QStringLiteral("id"), QStringLiteral("station"), QStringLiteral("host"), QStringLiteral("fixture"),
                       QStringLiteral("fixture_path"), QStringLiteral("adapter"), QStringLiteral("unit"),
                       QStringLiteral("recipe"), QStringLiteral("recipe_sha256"), QStringLiteral("tool_version"),
                       QStringLiteral("start_utc"), QStringLiteral("end_utc"), QStringLiteral("result"),
                       QStringLiteral("why"), QStringLiteral("serial"), QStringLiteral("reason"),
                       QStringLiteral("reload_of")};
    for (int slot = 1; slot <= 5; ++slot)
        for (const char* column : {"file", "sha256", "size", "data_frames_sent", "file_frame_sent",
                                   "release_confirmed", "holds", "reason"})
            header << QStringLiteral("slot%1_%2").arg(slot).arg(QLatin1String(column));
    // A byte-order mark, so a spreadsheet opened on the file reads UTF-8.
    return "\xEF\xBB\xBF" + header.join(QLatin1Char(',')).toUtf8() + "\r\n";
}

QByteArray Ledger::csvRows(const QList<UnitRecord>& units)
{
    QByteArray out;
    for (const UnitRecord& r : units) {
        QStringList row{r.id.toString(QUuid::WithoutBraces), r.station, text(r.host), text(r.fixtureName), text(r.fixturePath),
                        text(r.adapterIdentity), QString::number(r.unitNumber), text(r.recipeName),
                        r.recipeSha256, text(r.toolVersion), timeText(r.start), timeText(r.end),
                        r.isOpen() ? QStringLiteral("open") : r.result, text(r.why), text(r.serial), text(r.reason),
                        text(r.reloadOf)};
        for (int slot = 1; slot <= 5; ++slot) {
            const auto it = std::find_if(r.labels.cbegin(), r.labels.cend(),
                                         [slot](const LabelRecord& l) { return l.slot == slot; });
            if (it == r.labels.cend()) {
                for (int i = 0; i < 8; ++i)
                    row << QString();
                continue;
            }
            row << text(it->file) << it->sha256 << QString::number(it->size) << QString::number(it->dataFramesSent)
                << yesNo(it->fileFrameSent) << yesNo(it->releaseConfirmed) << text(it->slotHolds) << text(it->reason);
        }
        out += row.join(QLatin1Char(',')).toUtf8() + "\r\n";
    }
    return out;
}
