// The byte stream: one frame per byte as its decimal value, 0.015 s after each
// frame and once more after every hundredth, then "#File#", the completion
// message and the release. The file is read one byte at a time, never held whole.

#include "Form1.h"
#include "window/HandedOverPath.h"
#include "wire/StreamPacing.h"
#include "window/StatusBar.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

void Form1::YüklemeYap()
{
    if (!loadFile_)
        loadFile_ = checkLabelFile(Text1->text(), nativeNameIn(*Text1));
    showStreamTimeLeft(kStreamStartWait + streamSecondsLeft(FileLength, 0));
    // The bar follows inside the frame's own wait, so the work between a
    // frame and its wait stays the write alone.
    wire_.stream(*loadFile_, streamCount_, [this](qint64 sent) { streamProgressDue_ = sent; });
    showStreamProgress();
    showPlainProgress();
    // The completion message must not come while frames are still queued for
    // the line: what is still queued when the drain gives up was refused.
    if (const qint64 queued = wire_.drain([this] { serveWindowDuringWait(); }); queued > 0)
        refuseUntakenStream(queued);
    // The file is in the slot; what was typed meanwhile lands in the box
    // before the message takes the input.
    setUploadRunning(false);
    fileSent_ = true;
    seams_.dialogs->message(this, QStringLiteral("Loading file process completed"), OperatorDialogs::Icon::Information);
    stopIfClosed();
    LoadStage = VbFalse;
    Timer2.stop();
    setProgressValue(0);
    StatusBar1_PanelClick(StatusBar1->Panels(4));
    Command1->setVisible(true);
}

void Form1::refuseUntakenStream(qint64 queued)
{
    // Nothing of it may reach a device that takes data again later.
    MSComm1.discardOutput();
    MSComm1.setPortOpen(false);
    Wire::Ending ending = uploadEnding();
    ending.dropped = queued;
    throw PelmoraError(ErrorNumber::HardwareNotAvailable, QStringLiteral("the device stopped taking data; %1; load it again")
                                                              .arg(Wire::accountOf(ending).words));
}

namespace {

// The bar's text while streaming, "%p % · 0:09 left" ("%p" is the bar's
// own percentage).
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

}  // namespace

void Form1::showStreamProgress()
{
    if (streamProgressDue_ < 0)
        return;
    const qint64 sent = streamProgressDue_;
    streamProgressDue_ = -1;
    setProgressValue(static_cast<float>(sent));
    showStreamTimeLeft(streamSecondsLeft(FileLength, sent));
}

void Form1::showStreamTimeLeft(double seconds)
{
    // The text changes once a second; the work between two frames stays small.
    const qint64 whole = wholeSecondsLeft(seconds);
    if (whole == shownSecondsLeft_)
        return;
    shownSecondsLeft_ = whole;
    ProgressBar1->setFormat(streamProgressFormat(whole));
    ProgressBar1->setTextVisible(true);
}

void Form1::showPlainProgress()
{
    shownSecondsLeft_ = -1;
    streamProgressDue_ = -1;
    ProgressBar1->setTextVisible(false);
}
