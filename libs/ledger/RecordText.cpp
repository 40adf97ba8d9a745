#include "ledger/RecordText.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>

namespace Ledger {

QString timeText(const QDateTime& t)
{
    if (!t.isValid())
        return {};
    return t.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

QDateTime parseTime(const QString& text)
{
    if (text.isEmpty())
        return {};
    QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (t.isValid() && t.timeSpec() == Qt::LocalTime)
        t.setTimeSpec(Qt::UTC);  // the ledger's times are UTC throughout
    return t.toUTC();
}

QJsonObject toJson(const UnitRecord& r)
{
    // A field added since the first ledgers enters the text only when set:
    // the records written before it keep their text, and their links verify.
    const auto optional = [](QJsonObject& o, const char* key, const QString& value) {
        if (!value.isEmpty())
            o.insert(QLatin1String(key), value);
    };
    QJsonArray labels;
    for (const LabelRecord& l : r.labels) {
        QJsonObject label{
            {QStringLiteral("slot"), l.slot},
            {QStringLiteral("file"), l.file},
            {QStringLiteral("sha256"), l.sha256},
            {QStringLiteral("size"), l.size},
            {QStringLiteral("dataFramesSent"), l.dataFramesSent},
            {QStringLiteral("fileFrameSent"), l.fileFrameSent},
            {QStringLiteral("releaseConfirmed"), l.releaseConfirmed},
            {QStringLiteral("slotHolds"), l.slotHolds},
        };
        optional(label, "reason", l.reason);
        labels.append(label);
    }
    QJsonObject o{
        {QStringLiteral("id"), r.id.toString(QUuid::WithoutBraces)},
        {QStringLiteral("host"), r.host},
        {QStringLiteral("fixtureName"), r.fixtureName},
        {QStringLiteral("fixturePath"), r.fixturePath},
        {QStringLiteral("adapterIdentity"), r.adapterIdentity},
        {QStringLiteral("unitNumber"), r.unitNumber},
        {QStringLiteral("recipeName"), r.recipeName},
        {QStringLiteral("recipeSha256"), r.recipeSha256},
        {QStringLiteral("toolVersion"), r.toolVersion},
        {QStringLiteral("start"), timeText(r.start)},
        {QStringLiteral("end"), timeText(r.end)},
        {QStringLiteral("result"), r.result},
        {QStringLiteral("why"), r.why},
        {QStringLiteral("labels"), labels},
    };
    optional(o, "serial", r.serial);
    optional(o, "reason", r.reason);
    optional(o, "reloadOf", r.reloadOf);
    return o;
}

UnitRecord unitFromJson(const QJsonObject& o)
{
    UnitRecord r;
    r.id = QUuid::fromString(o.value(QStringLiteral("id")).toString());
    r.host = o.value(QStringLiteral("host")).toString();
    r.fixtureName = o.value(QStringLiteral("fixtureName")).toString();
    r.fixturePath = o.value(QStringLiteral("fixturePath")).toString();
    r.adapterIdentity = o.value(QStringLiteral("adapterIdentity")).toString();
    r.unitNumber = o.value(QStringLiteral("unitNumber")).toInteger();
    r.recipeName = o.value(QStringLiteral("recipeName")).toString();
    r.recipeSha256 = o.value(QStringLiteral("recipeSha256")).toString();
    r.toolVersion = o.value(QStringLiteral("toolVersion")).toString();
    r.start = parseTime(o.value(QStringLiteral("start")).toString());
    r.end = parseTime(o.value(QStringLiteral("end")).toString());
    r.result = o.value(QStringLiteral("result")).toString();
    r.why = o.value(QStringLiteral("why")).toString();
    r.serial = o.value(QStringLiteral("serial")).toString();
    r.reason = o.value(QStringLiteral("reason")).toString();
    r.reloadOf = o.value(QStringLiteral("reloadOf")).toString();
    for (const QJsonValue& v : o.value(QStringLiteral("labels")).toArray()) {
        const QJsonObject l = v.toObject();
        LabelRecord label;
        label.slot = l.value(QStringLiteral("slot")).toInt();
        label.file = l.value(QStringLiteral("file")).toString();
        label.sha256 = l.value(QStringLiteral("sha256")).toString();
        label.size = l.value(QStringLiteral("size")).toInteger();
        label.dataFramesSent = l.value(QStringLiteral("dataFramesSent")).toInteger();
        label.fileFrameSent = l.value(QStringLiteral("fileFrameSent")).toBool();
        label.releaseConfirmed = l.value(QStringLiteral("releaseConfirmed")).toBool();
        label.slotHolds = l.value(QStringLiteral("slotHolds")).toString();
        label.reason = l.value(QStringLiteral("reason")).toString();
        r.labels.append(label);
    }
    return r;
}

QByteArray canonicalText(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QString sha256Hex(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

}  // namespace Ledger
