#pragma once
// The runtime is built with hidden symbols; only what is marked here is
// visible to the program, the control libraries and the tools.

#include <QtGlobal>

#if defined(ZELKOR_COMPONENT_BUILDING)
#define ZELKOR_COMPONENT_API Q_DECL_EXPORT
#else
#define ZELKOR_COMPONENT_API Q_DECL_IMPORT
#endif
