// The window under the desktop's style. The description's colours (grey
// window and frames, black text) hold under Qt's own styles with a light
// scheme; elsewhere they met text the style draws in its own colours, so
// there the window takes backgrounds and text from one palette, the
// desktop's. Captions get the room their style needs, and the window never
// gets smaller than its status panels and its frame.

#include "Form1.h"
#include "window/StatusBar.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <algorithm>

namespace {

constexpr int kGap = 4;  // pixels between a widened caption and its neighbour

bool describedLookFits()
{
    const QString style = QApplication::style()->name().toLower();
    const QPalette palette = QApplication::palette();
    const bool lightScheme =
        palette.color(QPalette::WindowText).lightness() < palette.color(QPalette::Window).lightness();
    return lightScheme && (style == QLatin1String("fusion") || style == QLatin1String("windows"));
}

}  // namespace

void Form1::fitToStyle()
{
    if (!describedLookFits()) {
        // An empty palette sets nothing: the desktop's shows through.
        for (QWidget* w : {static_cast<QWidget*>(this), static_cast<QWidget*>(Frame1), static_cast<QWidget*>(Frame2)})
            w->setPalette(QPalette());
        fitSlotsToTheirCaptions();
    }
    fitMinimumSize();
}

void Form1::fitMinimumSize()
{
    const int statusHeight = StatusBar1->sizeHint().height();
    // The frames are centred on the outer size: the taller the title bar,
    // the lower they sit, and they must stay clear of the status bar.
    const int decoration = std::max(0, frameGeometry().height() - height());
    setMinimumSize(std::max(StatusBar1->sizeHint().width(), Frame1->width()),
                   Frame1->height() + 2 * statusHeight + 2 * kGap + decoration);
}

void Form1::fitSlotsToTheirCaptions()
{
    // The slot buttons keep their two rows and three columns, spread as far
    // as their captions need; "Load", the bar and the frame make room.
    int width = 0, height = 0;
    for (const QRadioButton* slot : Option1) {
        width = std::max({width, slot->width(), slot->sizeHint().width()});
        height = std::max({height, slot->height(), slot->sizeHint().height()});
    }
    const int column0 = Option1[0]->x();
    const int column1 = std::max(Option1[2]->x(), column0 + width + kGap);
    const int column2 = std::max(Option1[4]->x(), column1 + width + kGap);
    const int row0 = Option1[0]->y();
    const int row1 = std::max(Option1[1]->y(), row0 + height);
    Option1[0]->setGeometry(column0, row0, width, height);
    Option1[1]->setGeometry(column0, row1, width, height);
    Option1[2]->setGeometry(column1, row0, width, height);
    Option1[3]->setGeometry(column1, row1, width, height);
    Option1[4]->setGeometry(column2, (row0 + row1) / 2, width, height);

    Command1->move(std::max(Command1->x(), column2 + width + kGap), Command1->y());
    const int margin = Frame1->width() - (ProgressBar1->x() + ProgressBar1->width());
    const int frameWidth = std::max(Frame1->width(), Command1->geometry().right() + 1 + margin);
    const int barTop = std::max(ProgressBar1->y(), row1 + height + kGap);
    const int frameHeight = Frame1->height() + (barTop - ProgressBar1->y());
    ProgressBar1->setGeometry(ProgressBar1->x(), barTop, frameWidth - ProgressBar1->x() - margin, ProgressBar1->height());
    Frame1->resize(frameWidth, frameHeight);
    // The settings frame still covers the loading frame's sides when shown over it.
    Frame2->resize(std::max(Frame2->width(), frameWidth), Frame2->height());
}
