// The byte stream: one frame per byte as its decimal value, 0.015 s after each
// frame and once more after every hundredth, then "#File#", the completion
// message and the release. The file is read one byte at a time, never held whole.

#include "Form1.h"
#include "upload/LabelFile.h"
#include "window/StatusBar.h"

#include <QLineEdit>
#include <QPushButton>

void Form1::YüklemeYap()
{
    Bekle(1);
    {
        const QString path = Text1->text();
        const std::unique_ptr<QFile> file = openLabelFile(path);
        qint64 counter = 0;
        qint64 nextPause = 100;
        while (!file->atEnd()) {
            counter += 1;
            char byte = 0;
            const qint64 got = file->read(&byte, 1);
            if (got < 0)
                throw PelmoraError(ErrorNumber::PathFileAccess,
                                   QStringLiteral("%1: %2").arg(path, file->errorString()));
            const int value = got == 1 ? static_cast<unsigned char>(byte) : 0;
            Gönder(value);
            Bekle(0.015);
            if (counter == nextPause) {
                Bekle(0.015);
                nextPause += 100;
            }
            setProgressValue(static_cast<float>(counter));
        }
    }  // the file is closed before the end-of-file frame
    Gönder("#File#");
    // The completion message must not come while frames are still queued for the line.
    MSComm1.drainOutput();
    seams_.dialogs->message(this, QStringLiteral("Loading file process completed"), OperatorDialogs::Icon::Information);
    LoadStage = VbFalse;
    Timer2.stop();
    setProgressValue(0);
    StatusBar1_PanelClick(StatusBar1->Panels(4));
    Command1->setVisible(true);
}
