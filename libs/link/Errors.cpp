#include "Errors.h"

namespace {
struct Entry {
    int number;
    const char* text;
};

constexpr Entry kTable[] = {
    {ErrorNumber::Overflow, "Overflow"},
    {ErrorNumber::TypeMismatch, "Type mismatch"},
    {ErrorNumber::FileNotFound, "File not found"},
    {ErrorNumber::PermissionDenied, "Permission denied"},
    {ErrorNumber::PathFileAccess, "Path/File access error"},
    {ErrorNumber::InvalidPropertyValue, "Invalid property value"},
    {ErrorNumber::InvalidPortNumber, "Invalid port number"},
    {ErrorNumber::PortAlreadyOpen, "Port already open"},
    {ErrorNumber::HardwareNotAvailable, "Hardware not available"},
    {ErrorNumber::DeviceNotOpen, "Device not open"},
    {ErrorNumber::PortNotOpen, "Operation valid only when the port is open"},
};
}  // namespace

QString errorText(int number)
{
    for (const Entry& e : kTable)
        if (e.number == number)
            return QString::fromLatin1(e.text);
    return QStringLiteral("Application-defined or object-defined error");
}

PelmoraError::PelmoraError(int number, const QString& detail)
    : number_(number),
      text_(detail.isEmpty() ? errorText(number) : errorText(number) + QStringLiteral(": ") + detail),
      what_(report().toStdString())
{
}

QString PelmoraError::report() const
{
    return QStringLiteral("Error %1: %2").arg(number_).arg(text_);
}

PelmoraError lineLostError()
{
    return PelmoraError(ErrorNumber::HardwareNotAvailable, QString::fromLatin1(kLineLostDetail));
}
