#pragma once
// Status panel pictures at the screen's scale.

#include <QPixmap>
#include <QString>

// The picture at path with as many pixels as a 16 px panel picture has on a
// screen of the given scale (device pixels per pixel).
QPixmap panelPicture(const QString& path, qreal scale);
