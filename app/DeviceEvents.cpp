// Wiring of the events that talk to the device. One guard covers them all: a
// tick that arrives while such a handler (or its message box) still runs does
// nothing and is not stored up, so a file can never be streamed twice.

#include "Form1.h"
#include "window/StatusBar.h"

#include <QPushButton>

template <class Handler, class OnFailure>
void Form1::runDeviceEvent(Handler&& handler, OnFailure&& onFailure)
{
    if (deviceBusy_ || closing_)
        return;
    {
        DeviceTalk talk(*this);
        runEvent([&] {
            try {
                handler();
            } catch (const SequenceAbandoned&) {
                throw;  // the window is closing; nothing to put right
            } catch (...) {
                // Put the program in a usable state first, then report once.
                onFailure();
                throw;
            }
        });
    }
    // The window closed while this event ran: nothing more goes out.
    if (closing_ && !deviceBusy_)
        MSComm1.setPortOpen(false);
}

void Form1::wireDeviceEvents()
{
    connect(&Timer1, &QTimer::timeout, this, [this] {
        // Input made during the last request's wait comes first: it may end
        // the release (the device picture, F5, Escape).
        if (!deviceBusy_ && !closing_) {
            handOverHeldInput();
            if (!Timer1.isActive())
                return;
        }
        // The release is not retried on a failed line.
        runDeviceEvent([this] { Timer1_Timer(); },
                       [this] {
                           Timer1.stop();
                           showLineLost();
                       });
    });
    connect(&Timer2, &QTimer::timeout, this,
            [this] { runDeviceEvent([this] { Timer2_Timer(); }, [this] { endFailedSequence(); }); });
    connect(StatusBar1, &StatusBar::PanelClick, this, [this](StatusPanel* panel) {
        runDeviceEvent([this, panel] { StatusBar1_PanelClick(panel); }, [this] { showLineLost(); });
    });
    connect(Command1, &QPushButton::clicked, this, [this] { runEvent([this] { Command1_Click(); }); });
}

void Form1::endFailedSequence()
{
    // The flags stay as they were (the next Load starts afresh); the sequence
    // stops, the bar empties and "Load" returns.
    Timer2.stop();
    showPlainProgress();
    setProgressValue(0);
    setUploadRunning(false);
    Command1->setVisible(true);
    showLineLost();
}
