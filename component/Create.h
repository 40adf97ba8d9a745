#pragma once
// The side of the runtime that a program calls: creation by class name and
// what the registry knows.

#include "ComponentError.h"
#include "Export.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <optional>

class QWidget;

namespace component {

struct ClassDescription;

// Creates an instance of the class with that name ("ZelkorLogo1.ZelkorLogo")
// as a child of parent. Looks for the class's library in the registry first,
// then beside the running executable, then in the install library directory
// (searchPlaces). Throws ComponentError 429 when no instance could be made;
// its text names the class and every place tried.
ZELKOR_COMPONENT_API QWidget* createByClassName(const QString& className, QWidget* parent = nullptr);

// The description of a class, loading its library the way creation does.
// Throws ComponentError 429 like createByClassName.
ZELKOR_COMPONENT_API const ClassDescription& describe(const QString& className);

// A resource of the library holding the class ("_IID_ZELKORLOGO"), loading
// the library the way creation does; nothing when the library has no such
// resource. Throws ComponentError 429 like createByClassName.
ZELKOR_COMPONENT_API std::optional<QByteArray> readResource(const QString& className, const QString& name);

struct Registration {
    QString className;
    QUuid classId;
    QString libraryPath;
};

// What the registry holds for a class name, if anything.
ZELKOR_COMPONENT_API std::optional<Registration> registration(const QString& className);

// The per-user registry file (under the XDG data directory).
ZELKOR_COMPONENT_API QString registryFile();

// The library files tried after the registry, in order: beside the running
// executable, then the install library directories. Empty for a class name
// that names no library ("Lib.Class" names Lib.ocx).
ZELKOR_COMPONENT_API QStringList searchPlaces(const QString& className);

}  // namespace component
