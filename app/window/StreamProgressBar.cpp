#include "StreamProgressBar.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QElapsedTimer>
#include <QPainter>
#include <QStyleOptionProgressBar>
#include <algorithm>
#include <cmath>

namespace {
constexpr double kAnnounceEvery = 1.0;  // seconds

double monotonicSeconds()
{
    static QElapsedTimer started = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return static_cast<double>(started.nsecsElapsed()) / 1e9;
}

class AccessibleStreamProgress final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit AccessibleStreamProgress(StreamProgressBar* bar) : QAccessibleWidget(bar, QAccessible::ProgressBar) {}

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value || t == QAccessible::Description)
            return bar()->announcement();
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return bar()->value(); }
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return bar()->maximum(); }
    QVariant minimumValue() const override { return bar()->minimum(); }
    QVariant minimumStepSize() const override { return 0; }

private:
    StreamProgressBar* bar() const { return static_cast<StreamProgressBar*>(widget()); }
};

QAccessibleInterface* accessibleFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("StreamProgressBar") && object && object->isWidgetType())
        return new AccessibleStreamProgress(static_cast<StreamProgressBar*>(object));
    return nullptr;
}
}  // namespace

StreamProgressBar::StreamProgressBar(QWidget* parent) : QWidget(parent), now_(monotonicSeconds)
{
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFactory);
        return true;
    }();
    Q_UNUSED(installed);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void StreamProgressBar::setMinimum(int minimum)
{
    minimum_ = minimum;
    maximum_ = std::max(maximum_, minimum_);
    value_ = std::clamp(value_, minimum_, maximum_);
    changed();
}

void StreamProgressBar::setMaximum(int maximum)
{
    maximum_ = maximum;
    minimum_ = std::min(minimum_, maximum_);
    value_ = std::clamp(value_, minimum_, maximum_);
    changed();
}

void StreamProgressBar::setValue(int value)
{
    value = std::clamp(value, minimum_, maximum_);
    if (value == value_)
        return;
    value_ = value;
    changed();
}

void StreamProgressBar::setFormat(const QString& format)
{
    format_ = format;
    update();
}

void StreamProgressBar::setTextVisible(bool visible)
{
    textVisible_ = visible;
    update();
}

int StreamProgressBar::percent() const
{
    const double span = static_cast<double>(maximum_) - minimum_;
    if (span <= 0)
        return 100;
    return static_cast<int>((static_cast<double>(value_) - minimum_) * 100.0 / span);
}

QString StreamProgressBar::text() const
{
    QString shown = format_;
    shown.replace(QLatin1String("%p"), QString::number(percent()));
    shown.replace(QLatin1String("%v"), QString::number(value_));
    shown.replace(QLatin1String("%m"), QString::number(maximum_));
    return shown;
}

QString StreamProgressBar::announcement() const
{
    const QString done = QStringLiteral("%1 %").arg(percent());
    if (!timeLeft_ || !textVisible_)
        return done;
    const auto seconds = static_cast<qint64>(std::ceil(std::max(0.0, timeLeft_(maximum_, value_)) - 1e-9));
    return done + (seconds == 1 ? QStringLiteral(", 1 second left") : QStringLiteral(", %1 seconds left").arg(seconds));
}

void StreamProgressBar::changed()
{
    update();
    // Back at the start: the next value is the first of a new run.
    if (value_ == minimum_) {
        announcedAt_ = -1;
        return;
    }
    const double now = now_();
    if (announcedAt_ >= 0 && now - announcedAt_ < kAnnounceEvery)
        return;
    announcedAt_ = now;
    if (!isVisible())
        return;
    QAccessibleValueChangeEvent event(this, value_);
    QAccessible::updateAccessibility(&event);
}

QSize StreamProgressBar::sizeHint() const
{
    return QSize(160, fontMetrics().height() + 6);
}

void StreamProgressBar::paintEvent(QPaintEvent*)
{
    QStyleOptionProgressBar option;
    option.initFrom(this);
    option.minimum = minimum_;
    option.maximum = maximum_;
    option.progress = value_;
    option.text = text();
    option.textVisible = textVisible_;
    option.textAlignment = Qt::AlignCenter;
    option.state |= QStyle::State_Horizontal;
    QPainter painter(this);
    style()->drawControl(QStyle::CE_ProgressBar, &option, &painter, this);
}
