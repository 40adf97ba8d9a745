// The settings frame: shown with the port list brought up to date; "OK"
// takes the working port and line settings from the lists as they stand, to
// be used at the next opening of the port.

#include "Form1.h"

#include "connection/PortDiscovery.h"
#include "window/StatusBar.h"

#include <QComboBox>
#include <QGroupBox>

void Form1::showSettingsFrame()
{
    updatePortList();
    settingsShown_ = {Combo1->currentText()};
    for (QComboBox* combo : Combo2)
        settingsShown_ << combo->currentText();
    Frame2->setVisible(true);
    enterSettingsFrame();
}

void Form1::cancelSettingsFrame()
{
    if (settingsShown_.size() == int(Combo2.size()) + 1) {
        Combo1->setCurrentText(settingsShown_[0]);
        for (std::size_t i = 0; i < Combo2.size(); ++i)
            Combo2[i]->setCurrentText(settingsShown_[int(i) + 1]);
    }
    Frame2->setVisible(false);
    leaveSettingsFrame();
}

void Form1::Command2_Click()
{
    PortSettings = Combo2[0]->currentText() + QLatin1Char(',') + Combo2[1]->currentText() + QLatin1Char(',') +
                   Combo2[2]->currentText() + QLatin1Char(',') + Combo2[3]->currentText();
    PortNumber = Combo1->currentText();
    StatusBar1->Panels(1)->setText(QStringLiteral("Setting  :  ") + PortSettings);
    StatusBar1->Panels(2)->setText(QStringLiteral("Port : ") + PortNumber);
    MSComm1.setCommPort(toInteger16(PortNumber));
    MSComm1.setSettings(PortSettings);
    Frame2->setVisible(false);
    leaveSettingsFrame();
}
