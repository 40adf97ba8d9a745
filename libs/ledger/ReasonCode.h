#pragma once
// Why a unit or a label did not pass, as a stable code beside the words a
// person reads: reports and queries group by the code, never by the text.
// Codes are only ever added to this list; one in use is never renamed.

#include <QString>
#include <array>
#include <string_view>

namespace Ledger::Reason {

inline constexpr std::string_view TakenOut = "taken_out";            // the fixture said the unit left mid-load
inline constexpr std::string_view NoAnswer = "no_answer";            // a frame due an answer got none (pulled or silent)
inline constexpr std::string_view RefusedName = "refused_name";      // the slot name was answered otherwise
inline constexpr std::string_view RefusedLength = "refused_length";  // the length was not taken
inline constexpr std::string_view NoRelease = "no_release";          // the release was not confirmed
inline constexpr std::string_view WrongAnswer = "wrong_answer";      // an answer that fits no exchange
inline constexpr std::string_view FileChanged = "file_changed";      // the label is not the file checked at start
inline constexpr std::string_view LineLost = "line_lost";            // the port vanished, failed or could not be opened
inline constexpr std::string_view ScannedOver = "scanned_over";      // another unit was scanned during the load
inline constexpr std::string_view DuplicateSerial = "duplicate_serial";
inline constexpr std::string_view BadSerial = "bad_serial";          // the scan is no serial of the recipe
inline constexpr std::string_view Stalled = "stalled";               // the station's own clock stood still
inline constexpr std::string_view Interrupted = "interrupted";       // a stop signal, or the station ended
inline constexpr std::string_view LedgerFailed = "ledger_failed";    // the record could not be written

inline constexpr std::array<std::string_view, 14> all{
    TakenOut,    NoAnswer,        RefusedName, RefusedLength, NoRelease,   WrongAnswer,  FileChanged,
    LineLost,    ScannedOver,     DuplicateSerial, BadSerial, Stalled,     Interrupted,  LedgerFailed,
};

inline bool isKnown(const QString& code)
{
    for (std::string_view c : all)
        if (code == QLatin1String(c.data(), qsizetype(c.size())))
            return true;
    return false;
}

inline QString text(std::string_view code)
{
    return QString::fromLatin1(code.data(), qsizetype(code.size()));
}

}  // namespace Ledger::Reason
