// The operator dialogs as the platform shows them.

#include "Seams.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {

class QtDialogs final : public OperatorDialogs {
public:
    void message(QWidget* parent, const QString& text, Icon icon) override
    {
        QMessageBox box(icon == Icon::Error ? QMessageBox::Critical : QMessageBox::Information, kProgramName,
                        text, QMessageBox::Ok, parent);
        box.exec();
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
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().constFirst();
    }
};

}  // namespace

std::shared_ptr<OperatorDialogs> makeQtDialogs()
{
    return std::make_shared<QtDialogs>();
}
