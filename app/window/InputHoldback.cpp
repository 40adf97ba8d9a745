#include "InputHoldback.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QWheelEvent>

namespace {
bool isOperatorInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ContextMenu:
        return true;
    default:
        return false;
    }
}
}  // namespace

InputHoldback::InputHoldback()
{
    QCoreApplication::instance()->installEventFilter(this);
}

InputHoldback::~InputHoldback()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
}

InputHoldback::Holding::Holding(InputHoldback& holdback) : holdback_(holdback)
{
    ++holdback_.holding_;
}

InputHoldback::Holding::~Holding()
{
    if (--holdback_.holding_ == 0 && !holdback_.held_.empty())
        holdback_.handOverLater();
}

bool InputHoldback::eventFilter(QObject* receiver, QEvent* event)
{
    // Input reaches a window first; held there, no widget sees it yet. Input
    // that comes after a wait but before what it held is handed over queues
    // up behind it, so nothing overtakes.
    if (event == handingOver_ || (holding_ == 0 && held_.empty()) || !receiver->isWindowType() ||
        !isOperatorInput(event->type()))
        return false;
    if (holding_ > 0 && takeDuringWait && takeDuringWait(receiver, event))
        return true;
    Held held{receiver, std::unique_ptr<QEvent>(event->clone()), {}, {}, {}};
    if (event->isSinglePointEvent()) {
        const auto* pointer = static_cast<const QSinglePointEvent*>(event);
        held.position = pointer->position();
        held.scenePosition = pointer->scenePosition();
        held.globalPosition = pointer->globalPosition();
    }
    held_.push_back(std::move(held));
    if (holding_ == 0)
        handOverLater();
    return true;
}

void InputHoldback::handOverLater()
{
    if (handOverQueued_)
        return;
    handOverQueued_ = true;
    QMetaObject::invokeMethod(this, [this] { handOver(); }, Qt::QueuedConnection);
}

void InputHoldback::handOver()
{
    handOverQueued_ = false;
    // Run from inside the next wait, it waits for the end of that one.
    if (holding_ > 0)
        return;
    std::vector<Held> held = std::move(held_);
    held_.clear();
    for (Held& one : held) {
        if (!one.receiver)
            continue;
        handingOver_ = one.event.get();
        deliver(one);
        handingOver_ = nullptr;
        // A handler started by this input may have waited: what that wait
        // held comes after the rest of this.
    }
}

void InputHoldback::deliver(Held& held)
{
    // The point gets the positions it had, as a fresh event of this moment carries them.
    if (auto* mouse = dynamic_cast<QMouseEvent*>(held.event.get())) {
        const QMouseEvent now(mouse->type(), held.position, held.scenePosition, held.globalPosition, mouse->button(),
                              mouse->buttons(), mouse->modifiers(), mouse->pointingDevice());
        mouse->point(0) = now.points().constFirst();
    } else if (auto* wheel = dynamic_cast<QWheelEvent*>(held.event.get())) {
        const QWheelEvent now(held.position, held.globalPosition, wheel->pixelDelta(), wheel->angleDelta(),
                              wheel->buttons(), wheel->modifiers(), wheel->phase(), wheel->inverted(), wheel->source(),
                              wheel->pointingDevice());
        wheel->point(0) = now.points().constFirst();
    }
    QCoreApplication::instance()->notify(held.receiver, held.event.get());
}
