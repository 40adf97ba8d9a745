#pragma once

#include "Clock.h"

#include <QFile>
#include <QJsonObject>

#include <string_view>

namespace rv7k {

// Bytes as JSON text, one character per byte, so every byte of a frame
// survives into the log whatever it is.
inline QJsonValue bytesText(std::string_view bytes)
{
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// A JSON-lines log: one object per line, its time "t" in seconds.
class JsonLog {
public:
    bool open(const QString& path, QString& error);
    void write(Instant t, QJsonObject fields);

private:
    QFile m_file;
};

} // namespace rv7k
