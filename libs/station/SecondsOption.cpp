#include "SecondsOption.h"

#include <QLocale>
#include <cmath>
#include <limits>

QString secondsRefusal(const QString& option, double value, const QString& given, SecondsBounds bounds)
{
    if (std::isfinite(value) && value >= bounds.lowest && value <= bounds.highest)
        return {};
    return QStringLiteral("%1 takes seconds from %2 to %3, not '%4'").arg(option).arg(bounds.lowest).arg(bounds.highest).arg(given);
}

double secondsFromText(const QString& text)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    return ok ? value : std::numeric_limits<double>::quiet_NaN();
}
