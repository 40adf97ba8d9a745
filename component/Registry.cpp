#include "Registry.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace component::detail {

namespace {

QString idText(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces);
}

QString versionText(const TypeLibDescription& t)
{
    return QStringLiteral("%1.%2").arg(t.majorVersion).arg(t.minorVersion);
}

QString hex4(quint32 v)
{
    return QStringLiteral("0x%1").arg(v, 4, 16, QLatin1Char('0'));
}

// QSettings takes '/' and '\' in a key as group separators; a class name must
// stay one key.
bool plainName(const QString& name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

}  // namespace

bool writeRegistration(const ClassDescription& d, const QString& libraryPath)
{
    const QString file = registryFile();
    const QString className = QString::fromUtf8(d.className);
    if (file.isEmpty() || !plainName(className) || d.classId.isNull())
        return false;
    if (!QDir().mkpath(QFileInfo(file).absolutePath()))
        return false;

    QSettings reg(file, QSettings::IniFormat);
    const QString cls = QStringLiteral("CLSID/") + idText(d.classId);
    const TypeLibDescription& t = d.typeLibrary;
    const QString lib = QStringLiteral("TypeLib/") + idText(t.libraryId) + QLatin1Char('/') + versionText(t);

    reg.remove(cls);
    reg.setValue(QStringLiteral("ProgID/") + className + QStringLiteral("/CLSID"), idText(d.classId));
    reg.setValue(cls + QStringLiteral("/ProgID"), className);
    reg.setValue(cls + QStringLiteral("/Name"), QString::fromUtf8(d.shortName));
    reg.setValue(cls + QStringLiteral("/InprocServer"), libraryPath);
    reg.setValue(cls + QStringLiteral("/Control"), d.control);
    reg.setValue(cls + QStringLiteral("/TypeLib"), idText(t.libraryId));
    reg.setValue(cls + QStringLiteral("/Version"), versionText(t));

    reg.setValue(lib + QStringLiteral("/Name"), QString::fromUtf8(t.name));
    reg.setValue(lib + QStringLiteral("/Description"), QString::fromUtf8(t.description));
    reg.setValue(lib + QStringLiteral("/Flags"), hex4(t.flags));
    reg.setValue(lib + QStringLiteral("/Locale"), hex4(t.locale));
    reg.setValue(lib + QStringLiteral("/Platform"), QString::fromUtf8(t.platform));
    reg.setValue(lib + QStringLiteral("/Path"), libraryPath);

    for (const InterfaceDescription* i : {&d.defaultInterface, &d.eventInterface}) {
        const QString key = QStringLiteral("Interface/") + idText(i->id);
        reg.setValue(key + QStringLiteral("/Name"), QString::fromUtf8(i->name));
        reg.setValue(key + QStringLiteral("/TypeLib"), idText(t.libraryId));
        reg.setValue(key + QStringLiteral("/Version"), versionText(t));
    }
    reg.sync();
    return reg.status() == QSettings::NoError;
}

bool removeRegistration(const ClassDescription& d)
{
    const QString file = registryFile();
    if (file.isEmpty())
        return false;
    if (!QFileInfo::exists(file))
        return true;

    QSettings reg(file, QSettings::IniFormat);
    const QString className = QString::fromUtf8(d.className);
    const QString progId = QStringLiteral("ProgID/") + className;
    // The name may meanwhile belong to another class; leave that alone.
    if (plainName(className) && reg.value(progId + QStringLiteral("/CLSID")).toString() == idText(d.classId))
        reg.remove(progId);
    reg.remove(QStringLiteral("CLSID/") + idText(d.classId));
    reg.remove(QStringLiteral("TypeLib/") + idText(d.typeLibrary.libraryId) + QLatin1Char('/') +
               versionText(d.typeLibrary));
    reg.beginGroup(QStringLiteral("TypeLib/") + idText(d.typeLibrary.libraryId));
    const bool noVersionLeft = reg.childGroups().isEmpty() && reg.childKeys().isEmpty();
    reg.endGroup();
    if (noVersionLeft)
        reg.remove(QStringLiteral("TypeLib/") + idText(d.typeLibrary.libraryId));
    reg.remove(QStringLiteral("Interface/") + idText(d.defaultInterface.id));
    reg.remove(QStringLiteral("Interface/") + idText(d.eventInterface.id));
    reg.sync();
    return reg.status() == QSettings::NoError;
}

std::optional<Registration> readRegistration(const QString& className)
{
    const QString file = registryFile();
    if (file.isEmpty() || !plainName(className) || !QFileInfo::exists(file))
        return std::nullopt;
    QSettings reg(file, QSettings::IniFormat);
    const QUuid id = QUuid::fromString(reg.value(QStringLiteral("ProgID/") + className + QStringLiteral("/CLSID")).toString());
    if (id.isNull())
        return std::nullopt;
    const QString cls = QStringLiteral("CLSID/") + idText(id);
    const QString path = reg.value(cls + QStringLiteral("/InprocServer")).toString();
    if (path.isEmpty())
        return std::nullopt;
    return Registration{className, id, path};
}

}  // namespace component::detail

namespace component {

QString registryFile()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        return {};
    return data + QStringLiteral("/zelkor-components/registry.ini");
}

std::optional<Registration> registration(const QString& className)
{
    return detail::readRegistration(className);
}

}  // namespace component
