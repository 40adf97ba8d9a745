#pragma once
// The program's one window. It holds the whole state of the program and every
// procedure as a method; the methods live in the files of their subsystem:
//   connection/  frames, waiting, port discovery and opening, connection and release
//   upload/  the staged upload and the byte stream
//   window/  construction from the description, start-up, layout, settings, file choice

#include "Seams.h"
#include "SequenceAbandoned.h"
#include "link/Errors.h"
#include "link/Loose.h"
#include "link/MSComm.h"
#include "window/StreamProgressBar.h"
#include "wire/Ending.h"
#include "wire/Exchanges.h"
#include "wire/LabelFile.h"

#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <array>
#include <memory>
#include <optional>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class StatusBar;
class StatusPanel;
class CommonDialog;
class PelmoraError;
class BlockedCloseFilter;
class InputHoldback;
namespace Ui {
class Form1;
}

// The stage flags are 16-bit booleans: true is -1, false is 0.
using VbBool = qint16;
inline constexpr VbBool VbTrue = -1;
inline constexpr VbBool VbFalse = 0;

class Form1 : public QWidget {
    Q_OBJECT

public:
    explicit Form1(Seams seams = Seams::production(), QWidget* parent = nullptr);
    ~Form1() override;

    // ---- state ----------------------------------------------------------
    QString PortSettings;  // line settings handed to the port, "9600,n,8,1"
    QString PortNumber;    // chosen port number as text, "1"
    VbBool FileStage = VbFalse;
    VbBool LengthStage = VbFalse;
    VbBool LoadStage = VbFalse;
    qint32 FileLength = 0;
    QString DeviceFileName;  // slot tag + ".ejf"

    // ---- controls (owned by the widget tree, from the description) -------
    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QPushButton* Command1 = nullptr;  // "Load"
    QPushButton* Command2 = nullptr;  // "OK"
    QPushButton* Command3 = nullptr;  // "..."
    QComboBox* Combo1 = nullptr;      // port numbers
    std::array<QComboBox*, 4> Combo2{};  // baud, parity, data length, stop bits
    std::array<QLabel*, 6> Label2{};
    std::array<QRadioButton*, 5> Option1{};  // slots; Tag in the "Tag" property
    QLineEdit* Text1 = nullptr;
    StreamProgressBar* ProgressBar1 = nullptr;
    StatusBar* StatusBar1 = nullptr;
    QWidget* ZelkorLogo1 = nullptr;  // created by class name; may be a stand-in if that failed
    std::unique_ptr<CommonDialog> CommonDialog1;
    MSCommLib::MSComm MSComm1;
    QTimer Timer1;  // release, 100 ms
    QTimer Timer2;  // upload stages, 300 ms

    // ---- device link -----------------------------------------------------
    void Gönder(const Loose& ss);
    QString BNC(const Loose& Gelen) const;
    void Bekle(double nekadar);
    void PortKontrol();
    void Default();
    void PortAç();
    void BağlantıKur();
    void StatusBar1_PanelClick(StatusPanel* Panel);
    void Timer1_Timer();

    // ---- label upload ----------------------------------------------------
    void Command1_Click();
    void Timer2_Timer();
    void DosyaYolla();
    void UzunlukYolla();
    void YüklemeYap();

    // ---- main window -----------------------------------------------------
    void Form_Load();
    void Form_Resize();
    void Command2_Click();
    void Command3_Click();
    // Escape while no settings frame is shown, during an upload: a stop
    // request (window/StopRequest.cpp).
    void requestStop();

    // Where the layout rule last put a control, in twips, unrounded.
    struct TwipsPlacement {
        float Left = 0;
        float Top = 0;
    };
    // The layout rule for a given outer window size in twips (Form_Resize
    // reads the size from the window and calls this).
    void applyLayout(float outerWidthTwips, float outerHeightTwips);
    TwipsPlacement logoPlacement() const { return logoPlacement_; }
    TwipsPlacement frame1Placement() const { return frame1Placement_; }
    TwipsPlacement frame2Placement() const { return frame2Placement_; }
    // Why the logo control could not be created; empty when it was.
    QString logoFailure() const { return logoFailure_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    // The window manager's frame becomes known after the window is shown.
    bool event(QEvent* event) override;
    // The load event: Form_Load runs once, before the window is first shown.
    void showEvent(QShowEvent* event) override;
    // Closing ends the program at once, whatever runs: nothing more is sent.
    void closeEvent(QCloseEvent* event) override;
    // The window's keys (window/Keyboard.cpp).
    void keyPressEvent(QKeyEvent* event) override;
    // While the settings frame is shown, Tab stays inside it.
    bool focusNextPrevChild(bool next) override;

private:
    // Wires the device-talking events (timers, Load, status panel clicks).
    void wireDeviceEvents();
    // Runs a device-talking handler under the guard; a failure runs
    // onFailure, then is reported once.
    template <class Handler, class OnFailure>
    void runDeviceEvent(Handler&& handler, OnFailure&& onFailure);
    // Runs one event handler: any numbered error is reported once, never
    // reaches Qt. Returns false when the handler ended in an error.
    template <class Handler>
    bool runEvent(Handler&& handler);
    void reportError(const PelmoraError& error);
    void reportUnexpected(const char* what);

    // Marks a device-talking handler (or a wait) as running; a tick that
    // finds it running does nothing.
    class DeviceTalk {
    public:
        explicit DeviceTalk(Form1& form) : form_(form), wasBusy_(form.deviceBusy_) { form_.deviceBusy_ = true; }
        ~DeviceTalk() { form_.deviceBusy_ = wasBusy_; }
        DeviceTalk(const DeviceTalk&) = delete;
        DeviceTalk& operator=(const DeviceTalk&) = delete;

    private:
        Form1& form_;
        bool wasBusy_;
    };

    // Between the slices of a wait: the window system's own events (paint,
    // resize, the window manager's ping, the close request), never input.
    void serveWindowDuringWait();
    // Ends the running sequence quietly once the window has closed; called
    // after every wait turn and after every message box.
    void stopIfClosed() const;

    void setProgressMax(float max);
    void setProgressValue(float value);
    // The bar's own text says how long the stream still needs; outside a
    // stream the bar shows no text.
    void showStreamTimeLeft(double seconds);
    void showPlainProgress();
    // Puts the count the stream last reported on the bar; the waits call it,
    // so the bar moves inside a frame's wait, not between frame and wait.
    void showStreamProgress();
    qint64 shownSecondsLeft_ = -1;
    qint64 streamProgressDue_ = -1;
    // From Load to the end of the upload the file box, "..." and the slots
    // stay as Load found them; unlocking hands the held input over first.
    void setUploadRunning(bool running);
    bool uploadRunning_ = false;
    // Stop requests made during a wait (window/StopRequest.cpp).
    void watchForStopRequests();
    bool takeStopRequest(QObject* receiver, QEvent* event);
    // Acts on a stop request at the wait's turn: throws UploadStopped when
    // the upload stopped.
    void takeStopRequestNow();
    bool stopRequested_ = false;
    // Input held during the waits, delivered now, before a message box of
    // the same event could swallow it.
    void handOverHeldInput();
    // The stream's frames did not leave: the port closes, dropping them (8010).
    [[noreturn]] void refuseUntakenStream(qint64 queued);
    // What a failed upload left in the slot, with the bytes sent.
    QString uploadLeftText() const;
    // How far the upload got, for the one account of its ending.
    Wire::Ending uploadEnding() const;
    // Ends an upload sequence that failed: the timer stops, "Load" comes back.
    void endFailedSequence();
    // The operator ends a release the device does not confirm: the port closes.
    void endRelease();
    int releaseCounter_ = 1;
    // After a failure that closed the line: the panels show it, the release stops.
    void showLineLost();

    Seams seams_;
    std::unique_ptr<Ui::Form1> ui_;
    // What the program says to the device, paced by Bekle.
    Wire::Exchanges wire_{MSComm1, [this](double seconds) { Bekle(seconds); }};
    // The file Load checked: every step of the upload sends exactly this one.
    std::optional<LabelFileFacts> loadFile_;
    Wire::StreamCount streamCount_;
    // The last upload's file and "#File#" left the line; its release is pending.
    bool fileSent_ = false;
    bool deviceBusy_ = false;
    bool closing_ = false;
    // On X11, a close request that a modal box would make Qt drop.
    std::unique_ptr<BlockedCloseFilter> blockedCloseFilter_;
    // Input that comes during a wait is handled after it.
    std::unique_ptr<InputHoldback> inputHoldback_;

    // ---- main window (private) -------------------------------------------
    void createLogo();
    // Colours and caption sizes that read under the desktop's style, and the
    // smallest window that keeps every panel (window/StyleFit.cpp).
    void fitToStyle();
    void fitSlotsToTheirCaptions();
    // The least size at which nothing covers the status bar, title bar included.
    void fitMinimumSize();
    void placeControl(QWidget* control, const TwipsPlacement& placement);
    bool loaded_ = false;
    QSize laidOutFor_;  // the outer size the layout rule last ran with, pixels
    bool relayoutQueued_ = false;
    TwipsPlacement logoPlacement_;
    TwipsPlacement frame1Placement_;
    TwipsPlacement frame2Placement_;
    QString logoFailure_;
    // What made the ports refuse to open during the scan, for the message a
    // connect attempt gives when no port could be opened.
    QStringList scanRefusals_;

    // ---- port list following the cable -----------------------------------
    // Brings Combo1 up to date with the devices there are now: new ones are
    // probed and listed at their numbers, vanished ones leave the list
    // (connection/PortList.cpp).
    void updatePortList();
    // The settings frame, shown with the port list brought up to date
    // (window/SettingsFrame.cpp).
    void showSettingsFrame();
    // Escape: the frame goes with the lists as they stood when it was shown,
    // so a choice cancelled is never applied by a later OK.
    void cancelSettingsFrame();
    QStringList settingsShown_;  // Combo1 and Combo2's texts as the frame was shown
    // What a connect attempt with no port chosen reports (connection/PortDiscovery.cpp).
    QString noPortChosenText() const;

    // ---- keyboard, assistive technology, files handed over ----------------
    // The keys in the panels' tooltips (window/Keyboard.cpp).
    void setUpKeyboardHints();
    // The focus goes into the settings frame as it is shown, and back to
    // where it was as it is hidden.
    void enterSettingsFrame();
    void leaveSettingsFrame();
    QPointer<QWidget> focusBeforeSettings_;
};

template <class Handler>
bool Form1::runEvent(Handler&& handler)
{
    try {
        handler();
        return true;
    } catch (const SequenceAbandoned&) {
        // The window closed: the sequence ends where it was, quietly.
    } catch (const PelmoraError& error) {
        reportError(error);
    } catch (const std::exception& error) {
        reportUnexpected(error.what());
    } catch (...) {
        reportUnexpected("an error of unknown kind");
    }
    return false;
}
