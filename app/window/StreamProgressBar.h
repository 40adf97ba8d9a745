#pragma once
// ProgressBar1: a progress bar with the operations the procedures use (Max
// and Value, the text shown on it), drawn by the style as a progress bar.
//
// A plain QProgressBar tells assistive technology about every new value,
// which during a stream is one announcement per byte. This one announces at
// most once a second, with how far it is and how long is left ("41 %,
// 9 seconds left").

#include <QString>
#include <QWidget>
#include <functional>

class StreamProgressBar : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int minimum READ minimum WRITE setMinimum)
    Q_PROPERTY(int maximum READ maximum WRITE setMaximum)
    Q_PROPERTY(int value READ value WRITE setValue)
    Q_PROPERTY(bool textVisible READ isTextVisible WRITE setTextVisible)

public:
    explicit StreamProgressBar(QWidget* parent = nullptr);

    int minimum() const { return minimum_; }
    void setMinimum(int minimum);
    int maximum() const { return maximum_; }
    void setMaximum(int maximum);
    int value() const { return value_; }
    void setValue(int value);

    // The text on the bar: "%p" is the percentage, "%v" the value, "%m" the maximum.
    QString format() const { return format_; }
    void setFormat(const QString& format);
    bool isTextVisible() const { return textVisible_; }
    void setTextVisible(bool visible);
    QString text() const;

    int percent() const;
    // Seconds still to go for a value and a maximum, while the bar shows its
    // text; none given, the announcement says the percentage only.
    using TimeLeftRule = std::function<double(qint64 maximum, qint64 value)>;
    void setTimeLeftRule(TimeLeftRule rule) { timeLeft_ = std::move(rule); }
    // The clock that spaces the announcements (seconds); by default the monotonic one.
    void setClock(std::function<double()> now) { now_ = std::move(now); }
    // What assistive technology is told: "41 %, 9 seconds left".
    QString announcement() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void changed();

    int minimum_ = 0;
    int maximum_ = 100;
    int value_ = 0;
    QString format_ = QStringLiteral("%p%");
    bool textVisible_ = true;
    TimeLeftRule timeLeft_;
    std::function<double()> now_;
    double announcedAt_ = -1;
};
