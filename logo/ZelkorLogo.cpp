#include "ZelkorLogo.h"

#include "ZelkorLogoForm.h"

#include <QPainter>
#include <QResizeEvent>
#include <cmath>

namespace logo {

namespace {

int toPixels(float twips)
{
    return int(std::lround(twips / float(TwipsPerPixel)));
}

float toTwips(int px)
{
    return float(px * TwipsPerPixel);
}

}  // namespace

ZelkorLogo::ZelkorLogo(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ZelkorLogo"));
    // The strips the card leaves free show the control's own background.
    setAutoFillBackground(true);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    UserControl_Resize();
}

float ZelkorLogo::Left() const
{
    return toTwips(x());
}

float ZelkorLogo::Top() const
{
    return toTwips(y());
}

float ZelkorLogo::Width() const
{
    return toTwips(width());
}

float ZelkorLogo::Height() const
{
    return toTwips(height());
}

void ZelkorLogo::setLeft(float twips)
{
    move(toPixels(twips), y());
}

void ZelkorLogo::setTop(float twips)
{
    move(x(), toPixels(twips));
}

void ZelkorLogo::setWidth(float twips)
{
    resizeWidth(twips);
    UserControl_Resize();
}

void ZelkorLogo::setHeight(float twips)
{
    resizeHeight(twips);
    UserControl_Resize();
}

void ZelkorLogo::resizeWidth(float twips)
{
    resize(std::max(0, toPixels(twips)), height());
}

void ZelkorLogo::resizeHeight(float twips)
{
    resize(width(), std::max(0, toPixels(twips)));
}

QSize ZelkorLogo::sizeHint() const
{
    return QSize(pixels(ControlWidth), pixels(ControlHeight));
}

void ZelkorLogo::UserControl_Resize()
{
    // Setting the size raises the resize again; the outer call already sets both.
    if (inResize_)
        return;
    inResize_ = true;
    // Set as fixed sizes: Qt then bounds every later geometry request too,
    // also while the control is hidden and gets no resize event, and bounds
    // a container put on it are replaced.
    setFixedWidth(pixels(ControlWidth));
    setFixedHeight(pixels(ControlHeight));
    inResize_ = false;
}

void ZelkorLogo::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    UserControl_Resize();
}

void ZelkorLogo::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    paintElements(p, palette(), ZelkorLogoElements);
}

}  // namespace logo
