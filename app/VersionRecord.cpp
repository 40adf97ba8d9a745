#include "VersionRecord.h"

#include <QCoreApplication>

void VersionRecord::apply()
{
    QCoreApplication::setOrganizationName(CompanyName);
    QCoreApplication::setApplicationName(ProductName);
    QCoreApplication::setApplicationVersion(ProductVersion);
}
