#pragma once
// The program's version record: file and product version, and the maker.

#include <QString>

namespace VersionRecord {
inline const QString FileVersion = QStringLiteral(PELMORA_VERSION_TEXT);
inline const QString ProductVersion = QStringLiteral(PELMORA_VERSION_TEXT);
inline const QString CompanyName = QStringLiteral(PELMORA_COMPANY);
inline const QString ProductName = QStringLiteral("Pelmora");

// Makes the record the application's own (name, version, organisation).
void apply();
}  // namespace VersionRecord
