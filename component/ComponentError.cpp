#include "ComponentError.h"

namespace component {

QString ComponentError::standingText(int number)
{
    switch (number) {
    case ErrorNumber::CantCreateObject:
        return QStringLiteral("Can't create object");
    default:
        return QStringLiteral("Component error");
    }
}

ComponentError::ComponentError(int number, const QString& detail)
    : number_(number),
      text_(detail.isEmpty() ? standingText(number) : standingText(number) + QStringLiteral(": ") + detail),
      what_(report().toStdString())
{
}

QString ComponentError::report() const
{
    return QStringLiteral("Error %1: %2").arg(number_).arg(text_);
}

}  // namespace component
