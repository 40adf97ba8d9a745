// Start-up: the load event finds the usable ports and sets the defaults.

#include "Form1.h"

#include <QShowEvent>

void Form1::Form_Load()
{
    loaded_ = true;
    PortKontrol();
    Default();
}

void Form1::showEvent(QShowEvent* event)
{
    if (!loaded_ && !event->spontaneous())
        runEvent([this] { Form_Load(); });
    QWidget::showEvent(event);
}
