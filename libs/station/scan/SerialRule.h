#pragma once
// What a unit's serial is, as the recipe's [serial] table says:
//
//   [serial]
//   pattern = "^SN[0-9]{6}$"   # the whole scan must match
//   check = "gs1"              # none, gs1 (GS1 mod 10: GTIN, SSCC) or luhn
//   duplicates = "refuse"      # or "allow": a serial that passed may be loaded again
//
// Without the table any scan of printable characters is a serial. A scan is
// never one when empty or holding control characters other than GS (ASCII
// 29, the separator of GS1 element strings).

#include <QRegularExpression>
#include <QString>
#include <optional>

struct SerialRule {
    enum class Check { None, Gs1, Luhn };

    bool given = false;  // the recipe has a [serial] table
    QString patternText;  // as the recipe writes it; empty: none
    QRegularExpression pattern;  // anchored at both ends
    Check check = Check::None;
    bool allowDuplicates = false;

    // Why this scan is no serial; nothing when it is one.
    std::optional<QString> refusal(const QString& scan) const;
    // For the operator, as the station starts.
    QString described() const;
};

const char* checkName(SerialRule::Check check);
std::optional<SerialRule::Check> checkNamed(const QString& name);
