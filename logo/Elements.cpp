#include "Elements.h"

#include <QFont>
#include <QPainter>
#include <QPalette>
#include <QString>
#include <QStringList>

namespace logo {

namespace {

QColor colourOf(const Colour& c, const QPalette& palette)
{
    return c.windowText ? palette.color(QPalette::WindowText) : QColor::fromRgb(c.rgb);
}

QFont fontOf(const FontSpec& f)
{
    QFont font;
    const QString face = QString::fromUtf8(f.face);
    QStringList families{face};
    if (face == QLatin1String("Arial"))
        families << QStringLiteral("Liberation Sans") << QStringLiteral("Arimo");
    font.setFamilies(families);
    // Sized in pixels at 96 dots per inch, the scale the twips are laid out in,
    // so the letters keep their place in the box whatever the screen says.
    font.setPixelSize(qRound(f.points * 96.0 / 72.0));
    font.setWeight(QFont::Weight(f.weight));
    font.setItalic(f.italic);
    font.setUnderline(f.underline);
    font.setStrikeOut(f.strikeout);
    font.setKerning(false);
    return font;
}

// A border of width w centred on the ring of edge pixels of r: (w-1)/2 pixels
// outside it, the rest inside.
void paintBorder(QPainter& p, const QRect& r, int w, const QColor& c)
{
    if (w <= 0 || r.isEmpty())
        return;
    const int out = (w - 1) / 2;
    const QRect o = r.adjusted(-out, -out, out, out);
    p.fillRect(QRect(o.left(), o.top(), o.width(), w), c);
    p.fillRect(QRect(o.left(), o.bottom() - w + 1, o.width(), w), c);
    p.fillRect(QRect(o.left(), o.top(), w, o.height()), c);
    p.fillRect(QRect(o.right() - w + 1, o.top(), w, o.height()), c);
}

void paintShape(QPainter& p, const QPalette& palette, const Element& e)
{
    const QRect box = pixelBox(e);
    if (e.filled)
        p.fillRect(box, colourOf(e.fillColour, palette));
    paintBorder(p, box, e.borderWidth, colourOf(e.borderColour, palette));
}

void paintLabel(QPainter& p, const QPalette& palette, const Element& e)
{
    const QRect box = pixelBox(e);
    p.save();
    p.setClipRect(box);
    p.setFont(fontOf(e.font));
    p.setPen(colourOf(e.foreColour, palette));
    p.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, QString::fromUtf8(e.caption));
    p.restore();
}

}  // namespace

QRect pixelBox(const Element& e)
{
    return QRect(pixels(e.left), pixels(e.top), pixels(e.width), pixels(e.height));
}

void paintElements(QPainter& p, const QPalette& palette, std::span<const Element> elements)
{
    for (const Element& e : elements) {
        switch (e.kind) {
        case Kind::Shape:
            paintShape(p, palette, e);
            break;
        case Kind::Label:
            paintLabel(p, palette, e);
            break;
        }
    }
}

}  // namespace logo
