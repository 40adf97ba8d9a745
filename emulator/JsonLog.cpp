#include "JsonLog.h"

#include <QJsonDocument>

namespace rv7k {

bool JsonLog::open(const QString& path, QString& error)
{
    m_file.setFileName(path);
    // Unbuffered: each line goes out in one write, so a reader tailing the
    // file while the emulator runs never sees half a line it would have to keep.
    if (m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return true;
    error = QStringLiteral("cannot open log %1: %2").arg(path, m_file.errorString());
    return false;
}

void JsonLog::write(Instant t, QJsonObject fields)
{
    if (!m_file.isOpen())
        return;
    fields.insert(QStringLiteral("t"), static_cast<double>(t) / 1e9);
    // A log that cannot be written must not stop the device.
    m_file.write(QJsonDocument(fields).toJson(QJsonDocument::Compact) + '\n');
}

} // namespace rv7k
