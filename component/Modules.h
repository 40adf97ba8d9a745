#pragma once
// Inside the runtime: the control libraries loaded into this process, each
// known by the description its load entry handed over.

#include "ClassDescription.h"

#include <QString>

namespace component::detail {

struct Module;

// The module that holds d, recorded on first sight.
Module& moduleOf(const ClassDescription& d);
// The loaded module whose image starts at base and holds className, if any.
const ClassDescription* loadedClass(const void* base, const QString& className);
// Where the image that holds address starts, nullptr if in no image.
const void* imageBase(const void* address);
QString modulePath(const Module& m);

}  // namespace component::detail
