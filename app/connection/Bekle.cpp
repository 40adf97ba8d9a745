// Bekle: the wait every exchange with the device is paced by. The thread
// stays in it, so no click and no tick starts a second sequence, but between
// its slices the window repaints, follows resizes, answers the desktop and
// takes the close request.

#include "Form1.h"
#include "link/Wait.h"
#include "window/InputHoldback.h"

#include <QCoreApplication>

void Form1::Bekle(double nekadar)
{
    // Ticks that fall due meanwhile meet the guard and are dropped.
    const DeviceTalk talk(*this);
    waitOn(*seams_.clock, nekadar, [this] { serveWindowDuringWait(); });
}

void Form1::serveWindowDuringWait()
{
    stopIfClosed();
    showStreamProgress();
    {
        // Input stays queued for after the running event.
        const InputHoldback::Holding holding(*inputHoldback_);
        QCoreApplication::processEvents();
    }
    stopIfClosed();
    takeStopRequestNow();
}

void Form1::stopIfClosed() const
{
    if (closing_)
        throw SequenceAbandoned();
}

void Form1::handOverHeldInput()
{
    inputHoldback_->handOverNow();
}
