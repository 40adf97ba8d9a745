#include "window/SlotArrowKeys.h"

#include <QKeyEvent>

SlotArrowKeys::SlotArrowKeys(const std::vector<QRadioButton*>& buttons, QObject* parent) : QObject(parent)
{
    for (QRadioButton* button : buttons) {
        buttons_.emplace_back(button);
        button->installEventFilter(this);
    }
}

bool SlotArrowKeys::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    int step = 0;
    switch (key->key()) {
    case Qt::Key_Up:
    case Qt::Key_Left:
        step = -1;
        break;
    case Qt::Key_Down:
    case Qt::Key_Right:
        step = 1;
        break;
    default:
        return false;
    }
    const int count = int(buttons_.size());
    int at = -1;
    for (int i = 0; i < count; ++i)
        if (buttons_[size_t(i)] == watched)
            at = i;
    if (at < 0)
        return false;
    for (int tried = 1; tried < count; ++tried) {
        QRadioButton* next = buttons_[size_t(((at + step * tried) % count + count) % count)];
        if (next && next->isEnabled() && next->isVisibleTo(next->window())) {
            next->setFocus(Qt::TabFocusReason);
            next->setChecked(true);
            return true;
        }
    }
    return true;
}
