#include "window/HandedOverPath.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>

namespace {

const char* const kNativeName = "pelmoraNativeName";
const char* const kNativeShown = "pelmoraNativeShown";

// Names handed over whose bytes are no valid text, by the text shown for
// them (only the window's thread hands over).
QHash<QString, QByteArray>& undecodable()
{
    static QHash<QString, QByteArray> names;
    return names;
}

// The path of a file URI on this computer; empty for another host's.
QString localPath(QUrl url)
{
    if (!url.isValid() || !url.isLocalFile())
        return {};
    if (!url.host().isEmpty() && url.host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0)
        return {};
    url.setHost({});
    // The URI's octets are the name's bytes; text decoding would lose those that are no UTF-8.
    const QByteArray native = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    const QString shown = QFile::decodeName(native);
    if (QFile::encodeName(shown) != native)
        undecodable().insert(shown, native);
    return shown;
}

void rememberNative(QLineEdit& box)
{
    const QString text = box.text();
    const auto found = undecodable().constFind(text);
    box.setProperty(kNativeName, found == undecodable().constEnd() ? QByteArray() : *found);
    box.setProperty(kNativeShown, text);
}

}  // namespace

void setHandedOverText(QLineEdit& box, const QString& path)
{
    box.setText(path);
    rememberNative(box);
}

void insertHandedOverText(QLineEdit& box, const QString& path)
{
    box.insert(path);
    rememberNative(box);
}

QByteArray nativeNameIn(const QLineEdit& box)
{
    if (box.property(kNativeShown).toString() != box.text())
        return {};
    return box.property(kNativeName).toByteArray();
}

QString handedOverPath(const QString& text)
{
    QString path = text.trimmed();
    if (path.isEmpty() || path.contains(QLatin1Char('\n')))
        return text;
    for (const QChar quote : {QLatin1Char('"'), QLatin1Char('\'')}) {
        if (path.size() >= 2 && path.startsWith(quote) && path.endsWith(quote)) {
            path = path.mid(1, path.size() - 2);
            break;
        }
    }
    if (path.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        // A file on another host is no path here; it stays as given.
        const QString local = localPath(QUrl(path));
        if (!local.isEmpty())
            return local;
    }
    return path;
}

HandedOverFile handedOverFile(const QMimeData& data)
{
    if (!data.hasUrls())
        return {};
    const QList<QUrl> urls = data.urls();
    if (urls.size() != 1)
        return {{}, QStringLiteral("Drop one label file at a time.")};
    const QString path = localPath(urls.first());
    if (path.isEmpty())
        return {{}, QStringLiteral("Only a file on this computer can be loaded.")};
    if (QFileInfo(path).isDir())
        return {{}, QStringLiteral("A folder cannot be loaded; drop the label file itself.")};
    return {path, {}};
}

QString severalPaths(const QString& text)
{
    int paths = 0;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const QString one = line.trimmed();
        if (one.startsWith(QLatin1String("file:"), Qt::CaseInsensitive) || one.startsWith(QLatin1Char('/')))
            ++paths;
    }
    return paths > 1 ? QStringLiteral("Paste one label file at a time.") : QString();
}
