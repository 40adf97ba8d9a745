#include "PanelPicture.h"

#include <QFile>
#include <QImage>
#include <cmath>

namespace {
constexpr int kPicturePixels = 16;
}

// QPixmap never looks for the "@2x" drawing beside a picture, and scaling
// the small one up is what makes it blocky; between 100 % and 200 % the large
// drawing is scaled down smoothly instead.
QPixmap panelPicture(const QString& path, qreal scale)
{
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    const QString large = path.left(dot) + QStringLiteral("@2x") + path.mid(dot);
    if (scale <= 1.0 || dot < 0 || !QFile::exists(large))
        return QPixmap(path);
    const int side = static_cast<int>(std::lround(kPicturePixels * scale));
    // Smooth scaling of the indexed image an XPM gives crashes Qt 6.4: scale true colour.
    QImage image = QImage(large).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (image.width() != side)
        image = image.scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QPixmap picture = QPixmap::fromImage(image);
    picture.setDevicePixelRatio(scale);
    return picture;
}
