#pragma once
// Windowless shape and label elements, the way a control's surface is
// declared: each element is a row of properties, drawn back to front onto
// its control. Positions and sizes are in twips from the control's top-left
// corner; 15 twips make one pixel.

#include <QRect>
#include <QRgb>
#include <span>

class QPainter;
class QPalette;

namespace logo {

inline constexpr int TwipsPerPixel = 15;

constexpr int pixels(int twips)
{
    return twips / TwipsPerPixel;
}

struct Colour {
    QRgb rgb = 0;
    bool windowText = false;  // the palette's window-text colour instead of rgb
};

constexpr Colour rgb(QRgb value)
{
    return Colour{value, false};
}
inline constexpr Colour WindowText{0, true};

struct FontSpec {
    const char* face;  // "Arial"; the metric-compatible face stands in where it is missing
    int weight;        // 700 is bold
    double points;
    int charset;       // 162 Turkish; the caption is Unicode, so this only documents the intent
    bool italic = false;
    bool underline = false;
    bool strikeout = false;
};

enum class Kind { Shape, Label };

struct Element {
    const char* name;
    Kind kind;
    int left, top, width, height;  // twips

    // Shape: a rectangle, optionally filled, with an outline centred on its
    // edge pixels (the platform's solid border). Outline width 0 draws none.
    bool filled = false;
    Colour fillColour{};
    Colour borderColour = WindowText;
    int borderWidth = 1;  // pixels

    // Label: one left-aligned line from the top of its box, clipped to the
    // box. Transparent: the surface behind it shows around the letters.
    const char* caption = nullptr;  // UTF-8
    Colour foreColour{};
    FontSpec font{};
};

// The element's box in pixels.
QRect pixelBox(const Element& e);

// Draws the elements in order, each over the ones before it.
void paintElements(QPainter& p, const QPalette& palette, std::span<const Element> elements);

}  // namespace logo
