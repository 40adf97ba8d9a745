// Closing the window ends the program at once, whatever runs: nothing more
// goes to the device, the port is closed, and a sequence in a wait or behind a
// message box stops where it is, quietly.

#include "Form1.h"

#include <QCloseEvent>

void Form1::closeEvent(QCloseEvent* event)
{
    closing_ = true;
    Timer1.stop();
    Timer2.stop();
    // A box that is open returns; the sequence behind it then stops.
    seams_.dialogs->dismiss();
    // A running event may be inside the line (its drain); the line is
    // closed once that event has unwound.
    if (!deviceBusy_)
        MSComm1.setPortOpen(false);
    event->accept();
}
