#pragma once
// What Form1 is given from outside, so tests can replace it: the clock Bekle
// reads, the system's list of serial ports with the numbers bound to it, the
// way a port number opens a serial line, and the operator dialogs.

#include "link/Clock.h"
#include "link/PortBindings.h"
#include "link/SerialLine.h"

#include <QString>
#include <memory>
#include <optional>

class QWidget;

class OperatorDialogs {
public:
    enum class Icon { Information, Error };
    virtual ~OperatorDialogs() = default;
    // A modal message box with an OK button; returns when the operator closed it.
    virtual void message(QWidget* parent, const QString& text, Icon icon) = 0;
    // A modal question with Yes and No; true for Yes. Unasked, the answer is No.
    virtual bool question(QWidget* /*parent*/, const QString& /*text*/) { return false; }
    // A modal open-file dialog. The chosen path, or nothing when cancelled.
    virtual std::optional<QString> openFile(QWidget* parent, const QString& title, const QString& filter,
                                            const QString& initialFileName) = 0;
    // Closes the dialog that is open, if any, as if cancelled: the window is
    // closing and the program ends.
    virtual void dismiss() {}
};

// The real Qt dialogs (QMessageBox, QFileDialog).
std::shared_ptr<OperatorDialogs> makeQtDialogs();

// The program's name, the title of its message boxes.
inline const QString kProgramName = QStringLiteral("Pelmora");

struct Seams {
    std::shared_ptr<Clock> clock;
    // The numbers openLine serves, for the port list; empty: the system's.
    std::shared_ptr<PortBindings> ports;
    LineOpener openLine;  // empty: the real QSerialPort over ports
    std::shared_ptr<OperatorDialogs> dialogs;

    // The monotonic clock, QSerialPort over numbers bound to the system's
    // port list (tests may give a list of their own), and the Qt dialogs.
    static Seams production(PortDirectory::Lister systemPorts = PortDirectory::systemPorts);
};
