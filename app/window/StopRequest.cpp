// A stop request for a running upload: the device picture's click, its key
// (F5) and Escape. During a wait they are taken out of the held input and
// acted on at the wait's next turn, never stored for later; between the
// ticks they arrive as usual and take the same way. During a release they
// end it.

#include "Form1.h"
#include "window/InputHoldback.h"
#include "window/StatusBar.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QWindow>

namespace {
bool isStopKey(const QEvent* event)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return false;
    const auto* key = static_cast<const QKeyEvent*>(event);
    return key->modifiers() == Qt::NoModifier && (key->key() == Qt::Key_Escape || key->key() == Qt::Key_F5);
}
}  // namespace

void Form1::watchForStopRequests()
{
    inputHoldback_->takeDuringWait = [this](QObject* receiver, QEvent* event) {
        return takeStopRequest(receiver, event);
    };
}

bool Form1::takeStopRequest(QObject* receiver, QEvent* event)
{
    if (receiver != windowHandle())
        return false;
    bool press = false;
    if (isStopKey(event)) {
        press = event->type() == QEvent::KeyPress && !static_cast<const QKeyEvent*>(event)->isAutoRepeat();
    } else if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease ||
               event->type() == QEvent::MouseButtonDblClick) {
        const auto* mouse = static_cast<const QMouseEvent*>(event);
        const QPoint at = StatusBar1->mapFrom(this, mouse->position().toPoint());
        if (mouse->button() != Qt::LeftButton || !StatusBar1->panelRect(4).contains(at))
            return false;
        press = event->type() == QEvent::MouseButtonPress;
    } else {
        return false;
    }
    // Outside an upload (a release waiting on the device) it is held like
    // any input and handled when the wait ends.
    if (!uploadRunning_)
        return false;
    if (press)
        stopRequested_ = true;
    return true;
}

void Form1::takeStopRequestNow()
{
    if (!stopRequested_)
        return;
    stopRequested_ = false;
    if (!uploadRunning_ || streamCount_.endSent)
        return;
    const bool streaming = LoadStage == VbTrue && streamCount_.sent > 0;
    if (!streaming) {
        // Nothing of the file went out: the upload simply stops, as a disconnect.
        StatusBar1_PanelClick(StatusBar1->Panels(4));
        throw UploadStopped();
    }
    if (!seams_.dialogs->question(this, QStringLiteral("Stop loading? The slot will keep an incomplete file.")))
        return;
    stopIfClosed();
    const Wire::Ending stopped = uploadEnding();
    // The port stays open and connected; the next Load starts clean.
    FileStage = VbFalse;
    LengthStage = VbFalse;
    LoadStage = VbFalse;
    Timer2.stop();
    showPlainProgress();
    setProgressValue(0);
    setUploadRunning(false);
    Command1->setVisible(true);
    seams_.dialogs->message(
        this,
        QStringLiteral("Loading stopped: %1; load the file again").arg(Wire::accountOf(stopped).words),
        OperatorDialogs::Icon::Information);
    stopIfClosed();
    throw UploadStopped();
}

void Form1::requestStop()
{
    // Between the ticks: the same as a click on the device picture, which
    // also ends a release.
    if (uploadRunning_ || Timer1.isActive())
        StatusBar1->clickPanel(4);
}
