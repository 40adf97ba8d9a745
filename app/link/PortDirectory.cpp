#include "PortDirectory.h"

#include <QCollator>
#include <QSerialPortInfo>
#include <QtGlobal>
#include <algorithm>

namespace PortDirectory {

QStringList naturallySorted(QStringList paths)
{
    QCollator collator;
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseSensitive);
    std::sort(paths.begin(), paths.end(),
              [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
    return paths;
}

QStringList devicePaths()
{
    if (qEnvironmentVariableIsSet(kEnvironmentVariable)) {
        QStringList paths;
        for (const QString& p : qEnvironmentVariable(kEnvironmentVariable).split(QLatin1Char(',')))
            paths << p.trimmed();
        return paths;
    }
    QStringList paths;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        paths << info.systemLocation();
    return naturallySorted(paths);
}

QString deviceFor(int portNumber)
{
    const QStringList paths = devicePaths();
    if (portNumber < 1 || portNumber > paths.size())
        return {};
    return paths[portNumber - 1];
}

}  // namespace PortDirectory
