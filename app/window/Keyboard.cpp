// Everything from the keyboard. The keys a focused control leaves unused come
// here: F5 connects or disconnects (a click on the device picture), F2 opens
// "Connection Settings", Ctrl+O the file dialog, Return and Enter press "OK"
// while the settings frame is shown and "Load" otherwise, Escape hides the
// settings frame without applying it, or else asks a running upload to stop.
// While the settings frame is shown, Tab stays inside it.

#include "Form1.h"

#include "window/StatusBar.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QPushButton>

namespace {
bool takesTabFocus(const QWidget* w)
{
    return (w->focusPolicy() & Qt::TabFocus) && w->isVisible() && w->isEnabled();
}

// The next (or previous) control of the frame in the window's focus order.
QWidget* nextInFrame(QWidget* from, const QWidget* frame, bool next)
{
    QWidget* w = from;
    for (int guard = 0; guard < 1000; ++guard) {
        w = next ? w->nextInFocusChain() : w->previousInFocusChain();
        if (!w || w == from)
            break;
        if (frame->isAncestorOf(w) && takesTabFocus(w))
            return w;
    }
    return nullptr;
}
}  // namespace

void Form1::keyPressEvent(QKeyEvent* event)
{
    const bool settingsShown = Frame2->isVisible();
    const auto press = [event](QPushButton* button) {
        if (!event->isAutoRepeat() && button->isVisible() && button->isEnabled())
            button->click();
    };
    if (event->matches(QKeySequence::Open)) {
        if (!settingsShown)
            press(Command3);
    } else if (event->key() == Qt::Key_F5 && event->modifiers() == Qt::NoModifier) {
        if (!event->isAutoRepeat())
            StatusBar1->clickPanel(4);
    } else if (event->key() == Qt::Key_F2 && event->modifiers() == Qt::NoModifier) {
        if (!event->isAutoRepeat())
            StatusBar1->clickPanel(1);
    } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        press(settingsShown ? Command2 : Command1);
    } else if (event->key() == Qt::Key_Escape) {
        if (settingsShown) {
            cancelSettingsFrame();
        } else {
            requestStop();
        }
    } else {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

bool Form1::focusNextPrevChild(bool next)
{
    if (!Frame2->isVisible())
        return QWidget::focusNextPrevChild(next);
    QWidget* from = focusWidget() ? focusWidget() : StatusBar1;
    if (QWidget* to = nextInFrame(from, Frame2, next)) {
        to->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return true;
    }
    return false;
}

void Form1::enterSettingsFrame()
{
    QWidget* had = focusWidget();
    if (had && !Frame2->isAncestorOf(had))
        focusBeforeSettings_ = had;
    if (had && Frame2->isAncestorOf(had))
        return;
    // The frame's first control in the window's focus order.
    if (QWidget* first = nextInFrame(StatusBar1, Frame2, true))
        first->setFocus(Qt::TabFocusReason);
}

void Form1::leaveSettingsFrame()
{
    QWidget* back = focusBeforeSettings_;
    focusBeforeSettings_ = nullptr;
    if (back && takesTabFocus(back))
        back->setFocus(Qt::OtherFocusReason);
    else
        StatusBar1->setFocus(Qt::OtherFocusReason);
}

void Form1::setUpKeyboardHints()
{
    const QString settings = QStringLiteral("F2: Connection Settings");
    const QString connect = QStringLiteral("F5: connect or disconnect");
    StatusBar1->Panels(1)->setKeyHint(settings);
    StatusBar1->Panels(2)->setKeyHint(settings);
    StatusBar1->Panels(3)->setKeyHint(connect + QStringLiteral(", ") + settings);
    StatusBar1->Panels(4)->setKeyHint(connect);
    Command3->setToolTip(QStringLiteral("Choose the label file (Ctrl+O)"));
}
