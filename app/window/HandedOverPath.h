#pragma once
// Paths as desktops hand them over: a file manager's drag or copy gives a
// file:// URI, a path in quotes, or a path with a newline after it. These
// give the plain path; anything else is left as it stands.

#include <QByteArray>
#include <QString>

class QLineEdit;
class QMimeData;

// The plain path in a pasted or dropped text, or the text itself when it is
// no handed-over path.
QString handedOverPath(const QString& text);

// What a drop or a paste brings: one label file as its plain path, or a
// refusal with the reason for the operator.
struct HandedOverFile {
    QString path;     // empty when refused or when there is no file at all
    QString refusal;  // why it is refused; empty when taken
};
// For data that carries file URIs (a file manager's drag or copy); nothing
// (both empty) when it carries none.
HandedOverFile handedOverFile(const QMimeData& data);

// File names are bytes: a handed-over name that is no valid text is shown
// as the text it decodes to, and its bytes go with the box while it shows
// that text, so Load opens the file the desktop meant.
void setHandedOverText(QLineEdit& box, const QString& path);
void insertHandedOverText(QLineEdit& box, const QString& path);
// The bytes of the name the box shows, where they are no valid text; empty
// when the box's text is the name.
QByteArray nativeNameIn(const QLineEdit& box);

// Why a pasted text is refused when it holds several paths or file URIs, one
// a line; empty when it holds at most one.
QString severalPaths(const QString& text);
