// The edge between Qt and the procedures: errors are reported here, once,
// and never reach Qt.

#include "Form1.h"

void Form1::reportError(const PelmoraError& error)
{
    handOverHeldInput();
    seams_.dialogs->message(this, error.report(), OperatorDialogs::Icon::Error);
}

void Form1::reportUnexpected(const char* what)
{
    handOverHeldInput();
    seams_.dialogs->message(this, QStringLiteral("Unexpected error: %1").arg(QString::fromLocal8Bit(what)),
                            OperatorDialogs::Icon::Error);
}
