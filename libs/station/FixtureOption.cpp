#include "FixtureOption.h"

const char* modemLineName(ModemLine line)
{
    switch (line) {
    case ModemLine::Dsr: return "dsr";
    case ModemLine::Cts: return "cts";
    case ModemLine::Dcd: return "dcd";
    case ModemLine::Ri: return "ri";
    }
    return "?";
}

std::optional<ModemLine> modemLineNamed(const QString& name)
{
    for (ModemLine line : {ModemLine::Dsr, ModemLine::Cts, ModemLine::Dcd, ModemLine::Ri})
        if (name.compare(QLatin1String(modemLineName(line)), Qt::CaseInsensitive) == 0)
            return line;
    return std::nullopt;
}
