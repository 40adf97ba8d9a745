#pragma once
// The canonical text of a record: compact JSON with sorted keys and UTC
// times to the millisecond, so the same record always hashes the same.

#include "ledger/UnitRecord.h"

#include <QByteArray>
#include <QJsonObject>

namespace Ledger {

QString timeText(const QDateTime& t);  // 2026-12-09T19:42:36.120Z, empty when invalid
QDateTime parseTime(const QString& text);

QJsonObject toJson(const UnitRecord& r);
UnitRecord unitFromJson(const QJsonObject& o);
QByteArray canonicalText(const QJsonObject& o);
QString sha256Hex(const QByteArray& bytes);

}  // namespace Ledger
