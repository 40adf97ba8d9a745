// The operator dialogs as the platform shows them.

#include "Seams.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>

namespace {

class QtDialogs final : public OperatorDialogs {
public:
    void message(QWidget* parent, const QString& text, Icon icon) override
    {
        QMessageBox box(icon == Icon::Error ? QMessageBox::Critical : QMessageBox::Information, kProgramName,
                        text, QMessageBox::Ok, parent);
        run(box);
    }

    bool question(QWidget* parent, const QString& text) override
    {
        QMessageBox box(QMessageBox::Question, kProgramName, text, QMessageBox::Yes | QMessageBox::No, parent);
        // Going on is the safe answer to a stray Return.
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        return run(box) == QMessageBox::Yes;
    }

    std::optional<QString> openFile(QWidget* parent, const QString& title, const QString& filter,
                                    const QString& initialFileName) override
    {
        QFileDialog dialog(parent, title);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilters(filter.split(QStringLiteral(";;")));
        if (!initialFileName.isEmpty())
            dialog.selectFile(initialFileName);
        if (run(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().constFirst();
    }

    void dismiss() override
    {
        if (open_)
            open_->done(QDialog::Rejected);
    }

private:
    int run(QDialog& dialog)
    {
        const QPointer<QDialog> outer = open_;
        open_ = &dialog;
        const int result = dialog.exec();
        open_ = outer;
        return result;
    }

    QPointer<QDialog> open_;
};

}  // namespace

std::shared_ptr<OperatorDialogs> makeQtDialogs()
{
    return std::make_shared<QtDialogs>();
}
