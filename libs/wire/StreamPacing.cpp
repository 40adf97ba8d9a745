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
