// The layout rule: the logo keeps to the top right, both frames are centred
// on the window's outer size. Positions are kept in twips as computed, in
// single precision; the widgets get them rounded to pixels.

#include "Form1.h"

#include "window/StatusBar.h"

#include <QGroupBox>
#include <QResizeEvent>
#include <cmath>

namespace {
constexpr float kTwipsPerPixel = 15.0f;

float twips(int pixels)
{
    return static_cast<float>(pixels) * kTwipsPerPixel;
}

int pixels(float twips)
{
    return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}
}  // namespace

void Form1::placeControl(QWidget* control, const TwipsPlacement& placement)
{
    control->move(pixels(placement.Left), pixels(placement.Top));
}

void Form1::applyLayout(float W, float H)
{
    logoPlacement_.Top = 100.0f;
    placeControl(ZelkorLogo1, logoPlacement_);
    logoPlacement_.Left = W - twips(ZelkorLogo1->width()) - 200.0f;
    placeControl(ZelkorLogo1, logoPlacement_);

    frame1Placement_.Top = (H - twips(Frame1->height())) / 2.0f;
    placeControl(Frame1, frame1Placement_);
    frame1Placement_.Left = (W - twips(Frame1->width())) / 2.0f;
    placeControl(Frame1, frame1Placement_);

    frame2Placement_.Top = (H - twips(Frame2->height())) / 2.0f;
    placeControl(Frame2, frame2Placement_);
    frame2Placement_.Left = (W - twips(Frame2->width())) / 2.0f;
    placeControl(Frame2, frame2Placement_);
}

void Form1::Form_Resize()
{
    // The outer size: border and title bar included.
    const QRect outer = frameGeometry();
    laidOutFor_ = outer.size();
    if (loaded_)
        fitMinimumSize();  // the window manager's frame may have come or changed
    applyLayout(twips(outer.width()), twips(outer.height()));
}

void Form1::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    StatusBar1->dock();
    runEvent([this] { Form_Resize(); });
}

bool Form1::event(QEvent* event)
{
    // The first size event comes before the window manager has framed the
    // window, and no event says when the frame is on; the outer size is
    // looked at again whenever the window is moved, activated or painted.
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::WindowActivate:
    case QEvent::Paint:
        if (loaded_ && !relayoutQueued_ && frameGeometry().size() != laidOutFor_) {
            relayoutQueued_ = true;
            // Not from inside a paint: controls must not move while the window paints.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    relayoutQueued_ = false;
                    runEvent([this] { Form_Resize(); });
                },
                Qt::QueuedConnection);
        }
        break;
    default:
        break;
    }
    return QWidget::event(event);
}
