#pragma once
// Holds the operator's input (mouse, wheel, keyboard) back from the windows
// while a wait lets the window system's own events through, and hands it over,
// in order and as the window system delivered it, once no wait runs.
//
// Qt's own ExcludeUserInputEvents would do this, but on X11 it also holds back
// the window manager's close request, which must get through.

#include <QObject>
#include <QPointF>
#include <QPointer>
#include <functional>
#include <memory>
#include <vector>

class QEvent;

class InputHoldback final : public QObject {
public:
    InputHoldback();
    ~InputHoldback() override;

    // Input is held while one of these lives.
    class Holding {
    public:
        explicit Holding(InputHoldback& holdback);
        ~Holding();
        Holding(const Holding&) = delete;
        Holding& operator=(const Holding&) = delete;

    private:
        InputHoldback& holdback_;
    };

    bool eventFilter(QObject* receiver, QEvent* event) override;
    // Asked, while input is held, of each input event: true takes it away
    // from the holdback (it is then neither held nor handed over).
    std::function<bool(QObject* receiver, QEvent* event)> takeDuringWait;
    // Delivers what is held now, unless a wait runs; a box about to open
    // would otherwise take the input from its window.
    void handOverNow() { handOver(); }

private:
    struct Held {
        QPointer<QObject> receiver;
        // A copy keeps what the window system said of the event (a press that
        // gives focus), but a pointer event's point is shared with the device
        // and changes with later input: its positions are kept apart.
        std::unique_ptr<QEvent> event;
        QPointF position, scenePosition, globalPosition;
    };

    void handOverLater();
    void handOver();
    static void deliver(Held& held);

    int holding_ = 0;
    bool handOverQueued_ = false;
    const QEvent* handingOver_ = nullptr;
    std::vector<Held> held_;
};
