#pragma once
// What the library publishes about its class: the class description the
// entry points hand to the runtime, and the source of the type library
// resource, so both always say the same.

#include "ClassDescription.h"
#include "ZelkorLogoIds.h"

namespace logo {

inline constexpr component::TypeLibDescription ZelkorLogo1TypeLib{
    .name = "ZelkorLogo1",
    .libraryId = ZelkorLogoIds::LIBID_ZelkorLogo1,
    .majorVersion = 4,
    .minorVersion = 0,
    .description = "ZelkorLogo1",
    .flags = component::TypeLibControl,
    .locale = 0x0409,
    .platform = "win32",
};

inline constexpr component::InterfaceDescription DefaultInterface{
    .name = "_ZelkorLogo", .id = ZelkorLogoIds::IID__ZelkorLogo, .dual = true, .hidden = true};
inline constexpr component::InterfaceDescription EventInterface{
    .name = "__ZelkorLogo", .id = ZelkorLogoIds::DIID___ZelkorLogo, .dual = false, .hidden = true};

inline constexpr char ResourcePrefix[] = ":/ZelkorLogo1";

}  // namespace logo
