#include "PortDirectory.h"

#include <QSerialPortInfo>
#include <QtGlobal>
#include <algorithm>

namespace PortDirectory {

namespace {
// Runs of digits compare by their value, everything else by character.
bool naturalLess(const QString& a, const QString& b)
{
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            const qsizetype si = i, sj = j;
            while (i < a.size() && a[i].isDigit())
                ++i;
            while (j < b.size() && b[j].isDigit())
                ++j;
            const qulonglong x = a.mid(si, i - si).toULongLong();
            const qulonglong y = b.mid(sj, j - sj).toULongLong();
            if (x != y)
                return x < y;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}
}  // namespace

QStringList naturallySorted(QStringList paths)
{
    std::stable_sort(paths.begin(), paths.end(), naturalLess);
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
