// The connection toggle in the status bar, the poll handshake and the release.

#include "Form1.h"
#include "window/StatusBar.h"
#include "wire/LoadSequence.h"

#include <QGroupBox>
#include <QPushButton>

namespace {
const QString kNoConnectionText = QStringLiteral("No Connection  :");
const QString kConnectedText = QStringLiteral("Connected :");
const QString kConnectingText = QStringLiteral("Connecting... ");
const QString kNoConnectionTip = QStringLiteral("No Connection");
const QString kConnectionOkTip = QStringLiteral("Connection OK");
const QString kReleasingText = QStringLiteral("Releasing... ");
}  // namespace

void Form1::StatusBar1_PanelClick(StatusPanel* Panel)
{
    const QString text = Panel->Text();
    if (text != kNoConnectionText && !text.isEmpty()) {
        // New settings would hide the bar and change nothing of the running upload.
        if (!uploadRunning_)
            showSettingsFrame();
        return;
    }
    // The device picture ends a release the device does not confirm.
    if (Panel == StatusBar1->Panels(4) && Timer1.isActive() && Panel->ToolTipText() == kNoConnectionTip) {
        endRelease();
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
    setUploadRunning(false);
    Panel->setToolTipText(kNoConnectionTip);
    StatusBar1->Panels(3)->setText(kNoConnectionText);
    releaseCounter_ = 1;
    Timer1.start();
    Command1->setVisible(true);
}

void Form1::BağlantıKur()
{
    StatusPanel* panel3 = StatusBar1->Panels(3);
    StatusPanel* panel4 = StatusBar1->Panels(4);
    int counter = 1;
    for (;;) {
        const bool answered = wire_.poll();
        counter += 1;
        if (answered) {
            panel3->setText(kConnectedText);
            panel4->setToolTipText(kConnectionOkTip);
            FileStage = VbTrue;
            return;
        }
        panel3->setText(kConnectingText + QString::number(counter));
        panel4->setToolTipText(kNoConnectionTip);
        if (counter > Wire::kWindowPolicy.polls) {
            panel3->setText(kNoConnectionText);
            MSComm1.setPortOpen(false);
            return;
        }
    }
}

void Form1::Timer1_Timer()
{
    bool released = false;
    try {
        released = wire_.release();
    } catch (const PelmoraError& error) {
        // The operator must know the file itself is safe in the slot.
        if (error.number() != ErrorNumber::HardwareNotAvailable || !fileSent_)
            throw;
        const QString left = Wire::accountOf(uploadEnding()).words;
        fileSent_ = false;
        throw PelmoraError(ErrorNumber::HardwareNotAvailable,
                           QStringLiteral("%1; the line to the device was lost before its release could be sent (%2)")
                               .arg(left, error.text()));
    }
    if (released) {
        fileSent_ = false;
        MSComm1.setPortOpen(false);
        Timer1.stop();
        StatusBar1->Panels(3)->setText(kNoConnectionText);
        return;
    }
    // As the polls count: 2 after the first unanswered request.
    releaseCounter_ += 1;
    StatusBar1->Panels(3)->setText(kReleasingText + QString::number(releaseCounter_));
}

void Form1::endRelease()
{
    Timer1.stop();
    MSComm1.discardOutput();
    MSComm1.setPortOpen(false);
    StatusBar1->Panels(3)->setText(kNoConnectionText);
    StatusBar1->Panels(4)->setToolTipText(kNoConnectionTip);
    QString text = QStringLiteral("The device did not confirm its release; the port is closed.");
    if (fileSent_) {
        const QString left = Wire::accountOf(uploadEnding()).words;
        text += QLatin1Char(' ') + left.left(1).toUpper() + left.mid(1) + QLatin1Char('.');
    }
    fileSent_ = false;
    seams_.dialogs->message(this, text, OperatorDialogs::Icon::Error);
    stopIfClosed();
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
