#pragma once
// What Form1 is given from outside, so tests can replace it: the clock Bekle
// reads, the way a port number opens a serial line, and the operator dialogs.

#include "link/Clock.h"
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
    LineOpener openLine;  // empty: the real QSerialPort
    std::shared_ptr<OperatorDialogs> dialogs;

    // The monotonic clock, QSerialPort and the Qt dialogs.
    static Seams production();
};
