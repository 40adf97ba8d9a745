#pragma once
// The side of the runtime that a control library's entry points call. Each
// entry point passes the library's class description and nothing else; the
// runtime does the work.

#include "ClassDescription.h"
#include "Export.h"

namespace component {

// The library's load entry: the runtime learns the class and which file holds it.
ZELKOR_COMPONENT_API void libraryLoaded(const ClassDescription& d) noexcept;
// The library's unload entry: its description is about to go away.
ZELKOR_COMPONENT_API void libraryUnloading(const ClassDescription& d) noexcept;

// DllRegisterServer: writes the class name, the class id, the interfaces, the
// type library and the library's absolute path into the per-user registry.
ZELKOR_COMPONENT_API Result registerServer(const ClassDescription& d) noexcept;
// DllUnregisterServer: removes what registerServer wrote.
ZELKOR_COMPONENT_API Result unregisterServer(const ClassDescription& d) noexcept;
// DllGetClassObject: the class factory of d when asked for d's class id and
// IID_ClassFactory.
ZELKOR_COMPONENT_API Result getClassObject(const ClassDescription& d, const QUuid* classId,
                                           const QUuid* interfaceId, void** out) noexcept;
// DllCanUnloadNow: Ok when no instance of d lives and its factory is not locked, else No.
ZELKOR_COMPONENT_API Result canUnloadNow(const ClassDescription& d) noexcept;

}  // namespace component

// The four entry points every control library exports, as a caller resolves them.
extern "C" {
using DllRegisterServerFn = component::Result (*)();
using DllUnregisterServerFn = component::Result (*)();
using DllGetClassObjectFn = component::Result (*)(const QUuid* classId, const QUuid* interfaceId, void** out);
using DllCanUnloadNowFn = component::Result (*)();
}
