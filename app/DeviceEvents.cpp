// Wiring of the events that talk to the device. One guard covers them all: a
// tick that arrives while such a handler (or its message box) still runs does
// nothing and is not stored up, so a file can never be streamed twice.

#include "Form1.h"
#include "window/StatusBar.h"

#include <QPushButton>

void Form1::wireDeviceEvents()
{
    connect(&Timer1, &QTimer::timeout, this, [this] {
        if (deviceBusy_)
            return;
        DeviceTalk talk(*this);
        runEvent([this] {
            try {
                Timer1_Timer();
            } catch (...) {
                // Reported once: the release is not retried on a failed line.
                Timer1.stop();
                showLineLost();
                throw;
            }
        });
    });

    connect(&Timer2, &QTimer::timeout, this, [this] {
        if (deviceBusy_)
            return;
        DeviceTalk talk(*this);
        runEvent([this] {
            try {
                Timer2_Timer();
            } catch (...) {
                endFailedSequence();
                throw;
            }
        });
    });

    connect(StatusBar1, &StatusBar::PanelClick, this, [this](StatusPanel* panel) {
        if (deviceBusy_)
            return;
        DeviceTalk talk(*this);
        runEvent([this, panel] {
            try {
                StatusBar1_PanelClick(panel);
            } catch (...) {
                showLineLost();
                throw;
            }
        });
    });

    connect(Command1, &QPushButton::clicked, this, [this] { runEvent([this] { Command1_Click(); }); });
}

void Form1::endFailedSequence()
{
    // The flags stay as they were; the sequence just stops and "Load" returns.
    Timer2.stop();
    Command1->setVisible(true);
    showLineLost();
}
