// The byte stream: one frame per byte as its decimal value, 0.015 s after each
// frame and once more after every hundredth, then "#File#", the completion
// message and the release. The file is read one byte at a time, never held whole.

#include "Form1.h"
#include "upload/LabelFile.h"
#include "upload/StreamProgress.h"
#include "window/StatusBar.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

void Form1::YüklemeYap()
{
    const qint64 announced = FileLength;
    showStreamTimeLeft(kStreamStartWait + streamSecondsLeft(announced, 0));
    Bekle(kStreamStartWait);
    {
        const QString path = Text1->text();
        const std::unique_ptr<QFile> file = openLabelFile(path);
        qint64 counter = 0;
        qint64 nextPause = kPauseEvery;
        while (!file->atEnd()) {
            counter += 1;
            char byte = 0;
            const qint64 got = file->read(&byte, 1);
            if (got < 0)
                throw PelmoraError(ErrorNumber::PathFileAccess,
                                   QStringLiteral("\"%1\": %2").arg(path, file->errorString()));
            const int value = got == 1 ? static_cast<unsigned char>(byte) : 0;
            Gönder(value);
            Bekle(kByteWait);
            if (counter == nextPause) {
                Bekle(kByteWait);
                nextPause += kPauseEvery;
            }
            setProgressValue(static_cast<float>(counter));
            showStreamTimeLeft(streamSecondsLeft(announced, counter));
        }
    }  // the file is closed before the end-of-file frame
    Gönder("#File#");
    showPlainProgress();
    // The completion message must not come while frames are still queued for the line.
    MSComm1.drainOutput([this] { serveWindowDuringWait(); });
    seams_.dialogs->message(this, QStringLiteral("Loading file process completed"), OperatorDialogs::Icon::Information);
    stopIfClosed();
    LoadStage = VbFalse;
    Timer2.stop();
    setProgressValue(0);
    StatusBar1_PanelClick(StatusBar1->Panels(4));
    Command1->setVisible(true);
}

void Form1::showStreamTimeLeft(double seconds)
{
    // The text changes once a second; the work between two frames stays small.
    const qint64 whole = wholeSecondsLeft(seconds);
    if (whole == shownSecondsLeft_)
        return;
    shownSecondsLeft_ = whole;
    ProgressBar1->setFormat(streamProgressFormat(whole));
    ProgressBar1->setTextVisible(true);
}

void Form1::showPlainProgress()
{
    shownSecondsLeft_ = -1;
    ProgressBar1->setTextVisible(false);
}
