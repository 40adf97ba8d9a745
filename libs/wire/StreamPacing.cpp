#include "StreamPacing.h"

#include <algorithm>
#include <cmath>

double streamSecondsLeft(qint64 announced, qint64 sent)
{
    const qint64 bytesLeft = std::max<qint64>(0, announced - sent);
    const qint64 pausesLeft = std::max<qint64>(0, announced / kPauseEvery - sent / kPauseEvery);
    return static_cast<double>(bytesLeft + pausesLeft) * kByteWait;
}

qint64 wholeSecondsLeft(double secondsLeft)
{
    // Sums of 0.015 s steps land a hair above whole seconds; do not round those up.
    return static_cast<qint64>(std::ceil(std::max(0.0, secondsLeft) - 1e-9));
}

QString streamProgressFormat(qint64 total)
{
    const qint64 hours = total / 3600;
    const qint64 minutes = total / 60 % 60;
    const qint64 seconds = total % 60;
    const QString left = hours > 0 ? QStringLiteral("%1:%2:%3")
                                         .arg(hours)
                                         .arg(minutes, 2, 10, QLatin1Char('0'))
                                         .arg(seconds, 2, 10, QLatin1Char('0'))
                                   : QStringLiteral("%1:%2").arg(minutes).arg(seconds, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%p % \u00b7 ") + left + QStringLiteral(" left");
}
