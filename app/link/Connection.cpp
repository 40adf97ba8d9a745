// The connection toggle in the status bar, the poll handshake and the release.

#include "Form1.h"
#include "window/StatusBar.h"

#include <QGroupBox>
#include <QPushButton>

namespace {
const QString kNoConnectionText = QStringLiteral("No Connection  :");
const QString kConnectedText = QStringLiteral("Connected :");
const QString kConnectingText = QStringLiteral("Connecting... ");
const QString kNoConnectionTip = QStringLiteral("No Connection");
const QString kConnectionOkTip = QStringLiteral("Connection OK");
constexpr int kMaxPolls = 10;
}  // namespace

void Form1::StatusBar1_PanelClick(StatusPanel* Panel)
{
    const QString text = Panel->Text();
    if (text != kNoConnectionText && !text.isEmpty()) {
        showSettingsFrame();
        return;
    }
    if (text == kNoConnectionText || Panel->ToolTipText() == kNoConnectionTip) {
        PortAç();
        Timer1.stop();
        BağlantıKur();
        return;
    }
    // Disconnect: the port stays open until the device confirms the release.
    Timer2.stop();
    Panel->setToolTipText(kNoConnectionTip);
    StatusBar1->Panels(3)->setText(kNoConnectionText);
    Timer1.start();
    Command1->setVisible(true);
}

void Form1::BağlantıKur()
{
    StatusPanel* panel3 = StatusBar1->Panels(3);
    StatusPanel* panel4 = StatusBar1->Panels(4);
    int counter = 1;
    for (;;) {
        Gönder("S");
        Bekle(1);
        const QString reply = MSComm1.Input();
        counter += 1;
        if (reply.startsWith(QLatin1Char('S'))) {
            panel3->setText(kConnectedText);
            panel4->setToolTipText(kConnectionOkTip);
            FileStage = VbTrue;
            return;
        }
        panel3->setText(kConnectingText + QString::number(counter));
        panel4->setToolTipText(kNoConnectionTip);
        if (counter > kMaxPolls) {
            panel3->setText(kNoConnectionText);
            MSComm1.setPortOpen(false);
            return;
        }
    }
}

void Form1::Timer1_Timer()
{
    Gönder("#End#");
    Bekle(1.8);
    if (MSComm1.Input().startsWith(QLatin1Char('T'))) {
        MSComm1.setPortOpen(false);
        Timer1.stop();
    }
}

void Form1::showLineLost()
{
    // A line that failed was closed by MSComm1; the panels say so too, and no
    // timer keeps talking to it.
    if (MSComm1.PortOpen())
        return;
    Timer1.stop();
    StatusBar1->Panels(3)->setText(kNoConnectionText);
    StatusBar1->Panels(4)->setToolTipText(kNoConnectionTip);
}
