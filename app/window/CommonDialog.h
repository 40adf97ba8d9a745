#pragma once
// The open-file dialog as the window uses it: a filter written, shown as an
// open-file dialog, the chosen file name read. The dialog itself comes from
// the operator-dialog seam, so tests can script it.

#include <QString>
#include <memory>

class OperatorDialogs;
class QWidget;

class CommonDialog {
public:
    // The dialog starts with a filter of its own and a title that says what it
    // is for; its file name starts empty.
    CommonDialog(QWidget* owner, std::shared_ptr<OperatorDialogs> dialogs, const QString& initialFilter,
                 const QString& dialogTitle);

    QString Filter;
    QString FileName;
    QString DialogTitle;

    // Shows the dialog at FileName; true when a file was chosen (FileName is
    // then its path), false when the operator cancelled.
    bool ShowOpen();

    // The filter as the dialog presents it. A text of "description|patterns"
    // pairs gives one choice per pair; a bare list of patterns ("*.txt,*.epl")
    // gives one choice showing those files. "All files (*)" always follows,
    // since any file can be a label file.
    static QString presentedFilter(const QString& filter);

private:
    QWidget* owner_;
    std::shared_ptr<OperatorDialogs> dialogs_;
};
