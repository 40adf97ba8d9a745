// The edge between Qt and the procedures: errors are reported here, once,
// and never reach Qt.

#include "Form1.h"

#include <QRegularExpression>

namespace {
// What the operator reads for an error. A port another program holds is no
// matter of permission, whatever the system's lock says ("Permission error
// while locking the device" when a second Pelmora holds it).
QString operatorText(const PelmoraError& error)
{
    QString text = error.report();
    if (error.number() == ErrorNumber::PortAlreadyOpen && text.contains(QLatin1String(" is in use by another program"))) {
        static const QRegularExpression lockReason(QStringLiteral(" \\([^()]*permission[^()]*\\)$"),
                                                   QRegularExpression::CaseInsensitiveOption);
        text.remove(lockReason);
    }
    return text;
}
}  // namespace

void Form1::reportError(const PelmoraError& error)
{
    handOverHeldInput();
    seams_.dialogs->message(this, operatorText(error), OperatorDialogs::Icon::Error);
}

void Form1::reportUnexpected(const char* what)
{
    handOverHeldInput();
    seams_.dialogs->message(this, QStringLiteral("Unexpected error: %1").arg(QString::fromLocal8Bit(what)),
                            OperatorDialogs::Icon::Error);
}
