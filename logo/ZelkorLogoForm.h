#pragma once
// The surface of the ZelkorLogo control: its four elements, back to front.

#include "Elements.h"

#include <array>

namespace logo {

// The control's one and only size, in twips.
inline constexpr int ControlWidth = 4500;
inline constexpr int ControlHeight = 1500;

inline constexpr FontSpec Arial48Bold{.face = "Arial", .weight = 700, .points = 48.0, .charset = 162};
inline constexpr FontSpec Arial975Bold{.face = "Arial", .weight = 700, .points = 9.75, .charset = 162};

inline constexpr std::array<Element, 4> ZelkorLogoElements{{
    {.name = "Shape1", .kind = Kind::Shape, .left = 0, .top = 0, .width = 4470, .height = 1485,
     .filled = true, .fillColour = rgb(0xFFFFFF), .borderColour = WindowText, .borderWidth = 1},
    {.name = "Label1", .kind = Kind::Label, .left = 150, .top = 60, .width = 4215, .height = 975,
     .borderWidth = 0, .caption = "ZELKOR", .foreColour = rgb(0x000080), .font = Arial48Bold},
    {.name = "Shape2", .kind = Kind::Shape, .left = 120, .top = 135, .width = 4245, .height = 1230,
     .filled = false, .borderColour = rgb(0x008000), .borderWidth = 5},
    {.name = "Label2", .kind = Kind::Label, .left = 150, .top = 1020, .width = 4215, .height = 270,
     .borderWidth = 0, .caption = " Etiket, Barkod ve Yazıcı Çözümleri", .foreColour = rgb(0x008000),
     .font = Arial975Bold},
}};

}  // namespace logo
