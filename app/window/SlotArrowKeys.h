#pragma once
// The arrow keys in a group of option buttons move the choice with the
// focus, in the buttons' order and round at the ends, as radio buttons do on
// every desktop.

#include <QObject>
#include <QPointer>
#include <QRadioButton>
#include <vector>

class SlotArrowKeys final : public QObject {
public:
    SlotArrowKeys(const std::vector<QRadioButton*>& buttons, QObject* parent);
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::vector<QPointer<QRadioButton>> buttons_;
};
