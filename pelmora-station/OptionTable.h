#pragma once
// Every option of the station, described once. The command line and the
// configuration file both read a value through this table, so a value is
// taken or refused the same way, in the same words, wherever it is given;
// --help lists the options from it.

#include <QDir>
#include <QString>
#include <optional>
#include <stdexcept>
#include <vector>

struct StationOptions;

enum class OptionKind {
    Flag,           // no value: --json
    Text,           // a text, not empty
    Path,           // a file, relative to where it was given (see OptionPlace)
    WholeNumber,    // lowest to highest
    Seconds,        // a finite number from lowest to highest
    LineSettings,   // 9600,n,8,1
    ListenAddress,  // ADDRESS:PORT or off
    HostName,       // bench2.example.com; repeatable
    Fixture,        // read by the fixture's own reader (Options.cpp, Config.cpp)
};

struct StationOption {
    const char* flag;       // as the command line has it: "gone-after"
    const char* shortFlag;  // "h"; nullptr: none
    const char* key;        // as the configuration has it: "gone_after"; nullptr: the command line only
    const char* valueName;  // "K"; nullptr for a flag
    OptionKind kind;
    double lowest, highest;  // numbers only
    const char* byDefault;   // as written; nullptr: none
    const char* unit;        // "seconds"; nullptr: none
    const char* takes;       // what a value must be, as a refusal says it; nullptr: from the kind and range
    bool repeatable;
    const char* help;  // --help's lines, '\n' between them
};

const std::vector<StationOption>& stationOptions();
const StationOption* optionFlagged(const QString& flag);
const StationOption* optionKeyed(const QString& key);

// A value as it was given: on the command line always a text; in the
// configuration, whatever TOML made of it.
struct GivenValue {
    QString shown;                // as written: nan, "2.5", 3
    std::optional<QString> text;  // when it is a text
    std::optional<double> number; // when it reads as a number
    bool whole = false;           // and an integer as written
    bool typed = false;           // from a file whose values have types: a text there is no number
};
GivenValue givenOnCommandLine(const QString& text);

// Where a value came from: the option's name there ("--silence" or
// "silence") and the folder a relative path is taken from (the working
// directory, or the configuration file's folder).
struct OptionPlace {
    QString name;
    QDir base;
};

// A value refused: "--silence takes seconds from 2 to 3, not 'nan'"; the
// configuration puts its file and line before the same sentence.
struct OptionRefused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Checks value and stores it in options; a repeatable option's value is
// added to those before. Throws OptionRefused.
void applyOption(const StationOption& option, const OptionPlace& place, const GivenValue& value, StationOptions& options);

// What a value of option must be: "a whole number from 2 to 100".
QString optionTakes(const StationOption& option);

// The option list of --help.
QString optionsHelp();
