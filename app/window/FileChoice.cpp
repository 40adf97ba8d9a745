// "..." next to the file box: the label file is chosen with the file dialog.

#include "Form1.h"

#include "window/CommonDialog.h"

#include <QLineEdit>

void Form1::Command3_Click()
{
    CommonDialog1->Filter = QStringLiteral("*.txt,*.epl");
    CommonDialog1->ShowOpen();
    Text1->setText(CommonDialog1->FileName);
}
