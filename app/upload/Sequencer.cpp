// "Load" and the staged upload driven by Timer2: slot file name, then length,
// then the stream. Each stage flag is tested after the step before it has
// returned, so one tick can carry the whole upload when the device answers at once.

#include "Form1.h"
#include "upload/LabelFile.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <limits>

void Form1::Command1_Click()
{
    if (Text1->text().trimmed().isEmpty())
        return;
    // While a release is pending the device is being let go: that is no
    // connection to load over either.
    if (!MSComm1.PortOpen() || Timer1.isActive()) {
        seams_.dialogs->message(this, QStringLiteral("Can't loaded without connection"), OperatorDialogs::Icon::Error);
        return;
    }
    // A file that cannot be sent is refused before anything goes to the device.
    checkLabelFile(Text1->text());
    Command1->setVisible(false);
    // A new sequence: the length goes out only after the device took the slot
    // name, the data only after it took the length, whatever came before.
    FileStage = VbTrue;
    LengthStage = VbFalse;
    LoadStage = VbFalse;
    Timer2.start();
}

void Form1::Timer2_Timer()
{
    if (FileStage == VbTrue)
        DosyaYolla();
    if (LengthStage == VbTrue)
        UzunlukYolla();
    if (LoadStage == VbTrue)
        YüklemeYap();
}

void Form1::DosyaYolla()
{
    if (FileStage == VbFalse)
        return;
    // Every button is examined on every run; the loop does not stop at a match.
    for (QRadioButton* option : Option1) {
        if (!option->isChecked())
            continue;
        DeviceFileName = option->property("Tag").toString() + QStringLiteral(".ejf");
        Gönder(QStringLiteral("#") + DeviceFileName + QStringLiteral("#"));
        Bekle(2);
        if (MSComm1.Input().startsWith(QLatin1Char('D'))) {
            FileStage = VbFalse;
            LengthStage = VbTrue;
        }
    }
}

void Form1::UzunlukYolla()
{
    // Reopened on every repeat, so a file that grew is announced with its new length.
    const std::unique_ptr<QFile> file = openLabelFile(Text1->text());
    FileLength = announcedLength(*file);
    Gönder(QStringLiteral("%") + Loose(FileLength).text() + QStringLiteral("#"));
    Bekle(1);
    if (MSComm1.Input().startsWith(QLatin1Char('U'))) {
        LoadStage = VbTrue;
        LengthStage = VbFalse;
        setProgressMax(static_cast<float>(FileLength));
    }
}

void Form1::setProgressMax(float max)
{
    // A maximum of 0 would turn the bar into a busy indicator; keep the old one.
    if (max <= 0)
        return;
    const double limited = std::min<double>(max, std::numeric_limits<int>::max());
    ProgressBar1->setMaximum(static_cast<int>(limited));
}

void Form1::setProgressValue(float value)
{
    // A file that grew after its length was announced stops the bar at its maximum.
    const double limited = std::clamp<double>(value, ProgressBar1->minimum(), ProgressBar1->maximum());
    // The bar would repaint itself at once, between a frame and its wait; the
    // wait paints it anyway, so leave the paint to the wait.
    ProgressBar1->setUpdatesEnabled(false);
    ProgressBar1->setValue(static_cast<int>(limited));
    ProgressBar1->setUpdatesEnabled(true);
}
