// "..." next to the file box: the label file is chosen with the file dialog.

#include "Form1.h"

#include "window/CommonDialog.h"

#include <QLineEdit>

void Form1::Command3_Click()
{
    CommonDialog1->Filter = QStringLiteral("*.txt,*.epl");
    // The dialog opens at the file in the box, typed or chosen before.
    if (!Text1->text().trimmed().isEmpty())
        CommonDialog1->FileName = Text1->text();
    // Cancel leaves the box as it is.
    if (CommonDialog1->ShowOpen())
        Text1->setText(CommonDialog1->FileName);
}
