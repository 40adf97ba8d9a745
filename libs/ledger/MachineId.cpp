#include "ledger/MachineId.h"

#include <QFile>

namespace Ledger {

QString machineIdFrom(const QString& file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(f.readLine(256)).trimmed();
}

QString thisMachine()
{
    return machineIdFrom(QStringLiteral("/etc/machine-id"));
}

}  // namespace Ledger
