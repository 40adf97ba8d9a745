#pragma once
// Numbered errors: one table of numbers and texts, one exception type that
// carries a number and a text. Only PortKontrol traps them; every event
// handler reports them once at its edge.

#include <QString>
#include <exception>
#include <string>

namespace ErrorNumber {
inline constexpr int Overflow = 6;
inline constexpr int TypeMismatch = 13;
inline constexpr int FileNotFound = 53;
inline constexpr int PermissionDenied = 70;
inline constexpr int PathFileAccess = 75;
inline constexpr int InvalidPropertyValue = 380;
inline constexpr int InvalidPortNumber = 8002;
inline constexpr int PortAlreadyOpen = 8005;
inline constexpr int HardwareNotAvailable = 8010;
inline constexpr int DeviceNotOpen = 8012;
inline constexpr int PortNotOpen = 8018;
}  // namespace ErrorNumber

// The standing text of a number ("Invalid port number" for 8002).
QString errorText(int number);

// The detail of 8010 whenever the line went away under a write, a read or a
// wait. The system's own reason at that moment ("No such file or directory")
// only misleads the operator, so it is not passed on.
inline constexpr char kLineLostDetail[] = "the line to the device was lost: cable pulled or adapter gone";

class PelmoraError : public std::exception {
public:
    // detail, when given, follows the standing text: "File not found: /x".
    PelmoraError(int number, const QString& detail = {});

    int number() const noexcept { return number_; }
    // The standing text with its detail.
    QString text() const { return text_; }
    // "Error 53: File not found: /x", as the operator reads it.
    QString report() const;
    const char* what() const noexcept override { return what_.c_str(); }

private:
    int number_;
    QString text_;
    std::string what_;
};

// 8010 with kLineLostDetail.
PelmoraError lineLostError();
