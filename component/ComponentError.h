#pragma once
// The runtime's numbered error: creation by class name throws it when no
// object could be made.

#include "Export.h"

#include <QString>
#include <exception>
#include <string>

namespace component {

namespace ErrorNumber {
inline constexpr int CantCreateObject = 429;
}

class ZELKOR_COMPONENT_API ComponentError : public std::exception {
public:
    // detail follows the standing text of the number.
    ComponentError(int number, const QString& detail);

    int number() const noexcept { return number_; }
    // "Can't create object: ...".
    QString text() const { return text_; }
    // "Error 429: Can't create object: ...".
    QString report() const;
    const char* what() const noexcept override { return what_.c_str(); }

    static QString standingText(int number);

private:
    int number_;
    QString text_;
    std::string what_;
};

}  // namespace component
