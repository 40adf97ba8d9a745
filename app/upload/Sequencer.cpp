// "Load" and the staged upload driven by Timer2: slot file name, then length,
// then the stream. Each stage flag is tested after the step before it has
// returned, so one tick can carry the whole upload when the device answers at once.

#include "Form1.h"
#include "window/HandedOverPath.h"
#include "wire/LabelFile.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <limits>

namespace {
// What an error says after its number's standing text.
QString errorDetail(const PelmoraError& error)
{
    const QString standing = errorText(error.number());
    const QString text = error.text();
    return text.startsWith(standing + QStringLiteral(": ")) ? text.mid(standing.size() + 2) : text;
}
}  // namespace

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
    // A file that cannot be sent is refused before anything goes to the
    // device; what was checked here is what goes out.
    loadFile_ = checkLabelFile(Text1->text(), nativeNameIn(*Text1));
    streamCount_ = {};
    stopRequested_ = false;
    Command1->setVisible(false);
    setUploadRunning(true);
    // A new sequence: the length goes out only after the device took the slot
    // name, the data only after it took the length, whatever came before.
    FileStage = VbTrue;
    LengthStage = VbFalse;
    LoadStage = VbFalse;
    Timer2.start();
}

void Form1::Timer2_Timer()
{
    try {
        if (FileStage == VbTrue)
            DosyaYolla();
        if (LengthStage == VbTrue)
            UzunlukYolla();
        if (LoadStage == VbTrue)
            YüklemeYap();
    } catch (const PelmoraError& error) {
        // A lost line says what the slot was left with.
        if (error.number() != ErrorNumber::HardwareNotAvailable || streamCount_.endSent)
            throw;
        throw PelmoraError(error.number(), errorDetail(error) + QStringLiteral("; ") + uploadLeftText());
    }
}

QString Form1::uploadLeftText() const
{
    const Wire::EndingAccount left = Wire::accountOf(LoadStage == VbTrue ? uploadEnding() : Wire::Ending{});
    return left.slot == Wire::SlotState::Incomplete ? left.words + QStringLiteral("; load it again") : left.words;
}

Wire::Ending Form1::uploadEnding() const
{
    Wire::Ending ending;
    ending.announced = streamCount_.announced;
    ending.sent = streamCount_.sent;
    ending.dataBegun = streamCount_.sent > 0;
    ending.endSent = streamCount_.endSent;
    ending.drained = fileSent_;
    ending.slotFile = DeviceFileName;
    return ending;
}

void Form1::DosyaYolla()
{
    if (FileStage == VbFalse)
        return;
    // Every button is examined on every run; the loop does not stop at a match.
    // The buttons are locked while the upload runs, so every repeat names the same slot.
    for (QRadioButton* option : Option1) {
        if (!option->isChecked())
            continue;
        DeviceFileName = option->property("Tag").toString() + QStringLiteral(".ejf");
        if (wire_.chooseSlot(DeviceFileName)) {
            FileStage = VbFalse;
            LengthStage = VbTrue;
        }
    }
}

void Form1::UzunlukYolla()
{
    // Every repeat announces the file Load checked; one that changed since
    // ends the upload before anything more goes out.
    if (!loadFile_)
        loadFile_ = checkLabelFile(Text1->text(), nativeNameIn(*Text1));
    requireUnchangedSinceLoad(*loadFile_);
    FileLength = loadFile_->length();
    if (wire_.announceLength(FileLength)) {
        LoadStage = VbTrue;
        LengthStage = VbFalse;
        setProgressMax(static_cast<float>(FileLength));
    }
}

void Form1::setUploadRunning(bool running)
{
    // From Load to the end of the sequence the file and the slot stay as
    // Load found them. The box stays focusable, so what is typed during the
    // stream's waits is held and lands there once the file is sent.
    uploadRunning_ = running;
    if (running) {
        Text1->setReadOnly(true);
    } else if (Text1->isReadOnly()) {
        // Held clicks still find "..." and the slots locked, as when they were made.
        Text1->setReadOnly(false);
        handOverHeldInput();
    }
    Command3->setEnabled(!running);
    for (QRadioButton* option : Option1)
        option->setEnabled(!running);
    if (!running)
        loadFile_.reset();
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
    const double limited = std::clamp<double>(value, ProgressBar1->minimum(), ProgressBar1->maximum());
    // The bar would repaint itself at once, between a frame and its wait; the
    // wait paints it anyway, so leave the paint to the wait.
    ProgressBar1->setUpdatesEnabled(false);
    ProgressBar1->setValue(static_cast<int>(limited));
    ProgressBar1->setUpdatesEnabled(true);
}
