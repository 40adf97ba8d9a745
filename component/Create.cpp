#include "Create.h"

#include "ClassDescription.h"
#include "Modules.h"
#include "Registry.h"
#include "Runtime.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QRegularExpression>
#include <QWidget>

namespace component {

namespace {

// "ZelkorLogo1.ZelkorLogo" names the library ZelkorLogo1.ocx. Only a plain
// name is accepted, so a class name can never point at a file elsewhere.
QString libraryFileOf(const QString& className)
{
    static const QRegularExpression form(QStringLiteral("^([A-Za-z_][A-Za-z0-9_]*)\\.[A-Za-z_][A-Za-z0-9_]*$"));
    const auto match = form.match(className);
    if (!match.hasMatch())
        return {};
    return match.captured(1) + QStringLiteral(".ocx");
}

struct Found {
    const ClassDescription* description = nullptr;
    DllGetClassObjectFn getClassObject = nullptr;
    QUuid classId;
};

// Loads one candidate library and checks it holds the class. Libraries are
// never unloaded: instances made from them may live until the process ends.
Found tryLibrary(const QString& path, const QString& className, const QUuid& registeredId, QStringList& tried)
{
    if (!QFileInfo::exists(path)) {
        tried << path + QStringLiteral(" (no such file)");
        return {};
    }
    QLibrary lib(path);
    if (!lib.load()) {
        tried << path + QStringLiteral(" (") + lib.errorString() + QLatin1Char(')');
        return {};
    }
    auto entry = reinterpret_cast<DllGetClassObjectFn>(lib.resolve("DllGetClassObject"));
    if (!entry) {
        tried << path + QStringLiteral(" (no DllGetClassObject)");
        return {};
    }
    const ClassDescription* d = detail::loadedClass(detail::imageBase(reinterpret_cast<const void*>(entry)), className);
    if (!d) {
        tried << path + QStringLiteral(" (holds no class \"") + className + QStringLiteral("\")");
        return {};
    }
    return Found{d, entry, registeredId.isNull() ? d->classId : registeredId};
}

struct Located {
    Found found;
    ClassFactory* factory = nullptr;
};

Located locate(const QString& className, QStringList& tried, bool& known)
{
    known = false;
    QStringList candidates;
    QUuid registeredId;
    if (const auto reg = detail::readRegistration(className)) {
        known = true;
        registeredId = reg->classId;
        candidates << reg->libraryPath;
    } else {
        tried << QStringLiteral("registry ") + registryFile() + QStringLiteral(" (not registered)");
    }
    for (const QString& p : searchPlaces(className))
        if (!candidates.contains(p))
            candidates << p;

    for (const QString& path : candidates) {
        // A registered id is only trusted for the registered file.
        const bool isRegistered = !registeredId.isNull() && path == candidates.front();
        Found f = tryLibrary(path, className, isRegistered ? registeredId : QUuid(), tried);
        if (!f.description)
            continue;
        known = true;
        void* out = nullptr;
        const Result r = f.getClassObject(&f.classId, &IID_ClassFactory, &out);
        if (r != Ok || !out) {
            tried << path + QStringLiteral(" (DllGetClassObject: 0x%1)").arg(quint32(r), 8, 16, QLatin1Char('0'));
            continue;
        }
        return Located{f, static_cast<ClassFactory*>(out)};
    }
    return {};
}

[[noreturn]] void fail(const QString& className, const QStringList& tried, bool known)
{
    const QString what = known ? QStringLiteral("the class \"%1\" could not be created").arg(className)
                               : QStringLiteral("Class not registered: \"%1\"").arg(className);
    throw ComponentError(ErrorNumber::CantCreateObject,
                         what + QStringLiteral("; looked in: ") + tried.join(QStringLiteral("; ")));
}

Located locateOrThrow(const QString& className)
{
    QStringList tried;
    bool known = false;
    Located l = locate(className, tried, known);
    if (!l.factory)
        fail(className, tried, known);
    return l;
}

}  // namespace

QStringList searchPlaces(const QString& className)
{
    const QString file = libraryFileOf(className);
    if (file.isEmpty())
        return {};
    QStringList dirs;
    if (QCoreApplication::instance()) {
        const QString exe = QCoreApplication::applicationDirPath();
        dirs << exe << exe + QStringLiteral("/../lib/pelmora")
             << exe + QStringLiteral("/../") + QStringLiteral(ZELKOR_INSTALL_LIBDIR) + QStringLiteral("/pelmora");
    }
    dirs << QStringLiteral(ZELKOR_INSTALL_FULL_LIBDIR) + QStringLiteral("/pelmora");
    QStringList places;
    for (const QString& d : dirs) {
        const QString p = QDir::cleanPath(d + QLatin1Char('/') + file);
        if (!places.contains(p))
            places << p;
    }
    return places;
}

QWidget* createByClassName(const QString& className, QWidget* parent)
{
    Located l = locateOrThrow(className);
    QWidget* w = l.factory->CreateInstance(parent);
    if (!w)
        fail(className, {QStringLiteral("the class factory made no instance")}, true);
    return w;
}

const ClassDescription& describe(const QString& className)
{
    return *locateOrThrow(className).found.description;
}

std::optional<QByteArray> readResource(const QString& className, const QString& name)
{
    const ClassDescription& d = describe(className);
    QFile f(QString::fromUtf8(d.resourcePrefix) + QLatin1Char('/') + name);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return f.readAll();
}

}  // namespace component
