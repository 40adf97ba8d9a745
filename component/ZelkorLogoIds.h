#pragma once
// The fixed identity of the logo control, shared by the program and the
// control library so both use the same values. Never change these: a changed
// identifier is a different class to every registry that knows the old one.

#include <QUuid>

namespace ZelkorLogoIds {

inline constexpr char ClassName[] = "ZelkorLogo1.ZelkorLogo";
inline constexpr char LibraryFileName[] = "ZelkorLogo1.ocx";

// The class ZelkorLogo.
inline constexpr QUuid CLSID_ZelkorLogo{0xdfbbd671, 0x934c, 0x4cb9, 0x99, 0x53, 0x57, 0x98, 0x66, 0x56, 0x32, 0x1e};
// Its default interface _ZelkorLogo.
inline constexpr QUuid IID__ZelkorLogo{0xf56bdc77, 0xa31c, 0x4e99, 0xb1, 0x16, 0xaf, 0x23, 0x70, 0xe3, 0x55, 0x96};
// Its event interface __ZelkorLogo.
inline constexpr QUuid DIID___ZelkorLogo{0x65768f4d, 0x5f1a, 0x44e9, 0xa6, 0xa3, 0xc8, 0x57, 0x7f, 0xe8, 0x83, 0x3b};
// The type library ZelkorLogo1.
inline constexpr QUuid LIBID_ZelkorLogo1{0xd2804e1a, 0x4d3c, 0x4fac, 0xbe, 0x2c, 0x38, 0xec, 0xc4, 0x3e, 0x5b, 0x16};

}  // namespace ZelkorLogoIds
