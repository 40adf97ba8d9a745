#include "StatusBar.h"
#include "PanelPicture.h"

#include "window/StatusBarAccessible.h"

#include <QAccessible>
#include <QKeyEvent>

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QToolTip>
#include <qdrawutil.h>
#include <algorithm>
#include <cmath>

namespace {
constexpr float kTwipsPerPixel = 15.0f;
constexpr int kPanelGap = 2;       // pixels between two panels
constexpr int kPicturePixels = 16;  // pictures are shown at small-icon size
constexpr int kPadding = 2;

int toPixels(float twips)
{
    return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}

QStringList numbers(const std::vector<std::unique_ptr<StatusPanel>>& panels, float (StatusPanel::*get)() const)
{
    QStringList out;
    for (const auto& p : panels)
        out << QString::number(((*p).*get)());
    return out;
}
}  // namespace

// ---- StatusPanel -----------------------------------------------------------

void StatusPanel::setText(const QString& text)
{
    if (text == text_)
        return;
    text_ = text;
    bar_.panelChanged();
    bar_.panelRenamed(*this);
}

void StatusPanel::setToolTipText(const QString& text)
{
    if (text == toolTipText_)
        return;
    toolTipText_ = text;
    // A panel without text is known by its tooltip text (the indicator).
    if (text_.isEmpty())
        bar_.panelRenamed(*this);
    // A tip on screen for this panel follows at once.
    if (QToolTip::isVisible() && bar_.underMouse())
        QToolTip::hideText();
}

void StatusPanel::setWidth(float twips)
{
    width_ = twips;
    bar_.panelChanged();
}

void StatusPanel::setMinWidth(float twips)
{
    minWidth_ = twips;
    bar_.panelChanged();
}

void StatusPanel::setPicture(const QPixmap& picture)
{
    picture_ = picture;
    bar_.panelChanged();
}

QString StatusPanel::shownToolTip() const
{
    if (keyHint_.isEmpty())
        return toolTipText_;
    if (toolTipText_.isEmpty())
        return keyHint_;
    return toolTipText_ + QLatin1Char('\n') + keyHint_;
}

// ---- StatusBar -------------------------------------------------------------

StatusBar::StatusBar(QWidget* parent) : QWidget(parent)
{
    installStatusBarAccessibility();
    // Reached with the keyboard; a click on a panel leaves the focus where it was.
    setFocusPolicy(Qt::TabFocus);
}

StatusBar::~StatusBar() = default;

StatusPanel* StatusBar::Panels(int index) const
{
    if (index < 1 || index > Count())
        return nullptr;
    return panels_[static_cast<std::size_t>(index - 1)].get();
}

void StatusBar::ensurePanels(qsizetype count)
{
    while (static_cast<qsizetype>(panels_.size()) < count)
        panels_.push_back(std::make_unique<StatusPanel>(*this, Count() + 1));
}

void StatusBar::panelChanged()
{
    updateGeometry();
    update();
}

void StatusBar::panelRenamed(const StatusPanel& panel)
{
    QAccessibleEvent event(this, QAccessible::NameChanged);
    event.setChild(panel.Index() - 1);
    QAccessible::updateAccessibility(&event);
}

void StatusBar::clickPanel(int index)
{
    if (StatusPanel* panel = Panels(index))
        emit PanelClick(panel);
}

void StatusBar::setCurrentPanel(int index)
{
    current_ = std::clamp(index, 1, std::max(1, Count()));
    update();
    if (hasFocus()) {
        QAccessibleEvent event(this, QAccessible::Focus);
        event.setChild(current_ - 1);
        QAccessible::updateAccessibility(&event);
    }
}

int StatusBar::contentWidth(const StatusPanel& panel) const
{
    int w = 2 * kPadding;
    if (!panel.Picture().isNull())
        w += kPicturePixels + (panel.Text().isEmpty() ? 0 : kPadding);
    if (!panel.Text().isEmpty())
        w += fontMetrics().horizontalAdvance(panel.Text());
    return w;
}

QRect StatusBar::panelRect(int index) const
{
    int x = 0;
    for (int i = 1; i <= Count(); ++i) {
        const StatusPanel* p = Panels(i);
        // Never narrower than its width, and wide enough to show all of its text.
        const int w = std::max(toPixels(std::max(p->Width(), p->MinWidth())), contentWidth(*p));
        if (i == index)
            return QRect(x, 0, w, height());
        x += w + kPanelGap;
    }
    return {};
}

StatusPanel* StatusBar::panelAt(const QPoint& position) const
{
    for (int i = 1; i <= Count(); ++i)
        if (panelRect(i).contains(position))
            return Panels(i);
    return nullptr;
}

void StatusBar::dock()
{
    const QWidget* p = parentWidget();
    if (!p)
        return;
    const int h = height() > 0 ? height() : sizeHint().height();
    setGeometry(0, p->height() - h, p->width(), h);
}

QSize StatusBar::sizeHint() const
{
    const QRect last = panelRect(Count());
    return QSize(last.isValid() ? last.right() + 1 : 0, std::max(20, fontMetrics().height() + 2 * kPadding));
}

QStringList StatusBar::panelWidths() const
{
    return numbers(panels_, &StatusPanel::Width);
}

void StatusBar::setPanelWidths(const QStringList& twips)
{
    ensurePanels(twips.size());
    for (qsizetype i = 0; i < twips.size(); ++i)
        panels_[static_cast<std::size_t>(i)]->setWidth(twips[i].toFloat());
}

QStringList StatusBar::panelMinWidths() const
{
    return numbers(panels_, &StatusPanel::MinWidth);
}

void StatusBar::setPanelMinWidths(const QStringList& twips)
{
    ensurePanels(twips.size());
    for (qsizetype i = 0; i < twips.size(); ++i)
        panels_[static_cast<std::size_t>(i)]->setMinWidth(twips[i].toFloat());
}

QStringList StatusBar::panelTexts() const
{
    QStringList out;
    for (const auto& p : panels_)
        out << p->Text();
    return out;
}

void StatusBar::setPanelTexts(const QStringList& texts)
{
    ensurePanels(texts.size());
    for (qsizetype i = 0; i < texts.size(); ++i)
        panels_[static_cast<std::size_t>(i)]->setText(texts[i]);
}

QStringList StatusBar::panelToolTipTexts() const
{
    QStringList out;
    for (const auto& p : panels_)
        out << p->ToolTipText();
    return out;
}

void StatusBar::setPanelToolTipTexts(const QStringList& texts)
{
    ensurePanels(texts.size());
    for (qsizetype i = 0; i < texts.size(); ++i)
        panels_[static_cast<std::size_t>(i)]->setToolTipText(texts[i]);
}

void StatusBar::setPanelPictures(const QStringList& paths)
{
    ensurePanels(paths.size());
    picturePaths_ = paths;
    for (qsizetype i = 0; i < paths.size(); ++i)
        panels_[static_cast<std::size_t>(i)]->setPicture(paths[i].isEmpty() ? QPixmap()
                                                                          : panelPicture(paths[i], devicePixelRatioF()));
}

bool StatusBar::event(QEvent* e)
{
    if (e->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(e);
        const StatusPanel* panel = panelAt(help->pos());
        if (panel && !panel->shownToolTip().isEmpty())
            QToolTip::showText(help->globalPos(), panel->shownToolTip(), this, panelRect(panel->Index()));
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(e);
}

void StatusBar::mousePressEvent(QMouseEvent* e)
{
    pressed_ = e->button() == Qt::LeftButton ? panelAt(e->position().toPoint()) : nullptr;
    QWidget::mousePressEvent(e);
}

void StatusBar::mouseReleaseEvent(QMouseEvent* e)
{
    StatusPanel* pressed = pressed_;
    pressed_ = nullptr;
    // A click is a press and a release on the same panel.
    if (e->button() == Qt::LeftButton && pressed && panelAt(e->position().toPoint()) == pressed)
        emit PanelClick(pressed);
    QWidget::mouseReleaseEvent(e);
}

void StatusBar::mouseDoubleClickEvent(QMouseEvent* e)
{
    pressed_ = nullptr;
    e->accept();
}

void StatusBar::keyPressEvent(QKeyEvent* e)
{
    switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (e->isAutoRepeat())
            break;  // held down, it is still one click
        clickPanel(current_);
        break;
    case Qt::Key_Left:
        setCurrentPanel(current_ - 1);
        break;
    case Qt::Key_Right:
        setCurrentPanel(current_ + 1);
        break;
    default:
        QWidget::keyPressEvent(e);
        return;
    }
    e->accept();
}

void StatusBar::focusInEvent(QFocusEvent* e)
{
    if (e->reason() == Qt::TabFocusReason)
        current_ = 1;
    else if (e->reason() == Qt::BacktabFocusReason)
        current_ = Count();
    QWidget::focusInEvent(e);
    setCurrentPanel(current_);
}

void StatusBar::focusOutEvent(QFocusEvent* e)
{
    QWidget::focusOutEvent(e);
    update();
}

bool StatusBar::focusNextPrevChild(bool next)
{
    if (hasFocus() && (next ? current_ < Count() : current_ > 1)) {
        setCurrentPanel(current_ + (next ? 1 : -1));
        return true;
    }
    return QWidget::focusNextPrevChild(next);
}

void StatusBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    for (int i = 1; i <= Count(); ++i) {
        const StatusPanel* p = Panels(i);
        const QRect r = panelRect(i);
        qDrawShadePanel(&painter, r, palette(), true, 1);
        QRect inner = r.adjusted(kPadding, 1, -kPadding, -1);
        painter.save();
        painter.setClipRect(r.adjusted(1, 1, -1, -1));
        if (!p->Picture().isNull()) {
            // A picture alone sits in the middle of its panel.
            const int x = p->Text().isEmpty() ? r.left() + (r.width() - kPicturePixels) / 2 : inner.left();
            const QRect pic(x, r.top() + (r.height() - kPicturePixels) / 2, kPicturePixels, kPicturePixels);
            painter.drawPixmap(pic, p->Picture());
            inner.setLeft(pic.right() + 1 + kPadding);
        }
        if (!p->Text().isEmpty())
            painter.drawText(inner, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, p->Text());
        painter.restore();
        if (hasFocus() && i == current_) {
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.rect = r.adjusted(2, 2, -2, -2);
            focus.backgroundColor = palette().color(QPalette::Window);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
        }
    }
}
