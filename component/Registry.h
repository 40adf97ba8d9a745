#pragma once
// Inside the runtime: the per-user registry, an INI file under the XDG data
// directory.

#include "ClassDescription.h"
#include "Create.h"

#include <QString>
#include <optional>

namespace component::detail {

bool writeRegistration(const ClassDescription& d, const QString& libraryPath);
bool removeRegistration(const ClassDescription& d);
std::optional<Registration> readRegistration(const QString& className);

}  // namespace component::detail
