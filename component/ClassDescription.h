#pragma once
// What a control library tells the runtime about its classes. The library's
// entry points do no work of their own: each hands its class description to
// the runtime (Runtime.h), which registers, hands out factories and counts
// instances.

#include "Export.h"

#include <QUuid>
#include <QtGlobal>

class QWidget;

namespace component {

// Results of the entry points, with the platform's values so a caller that
// knows those codes reads them the same way.
using Result = qint32;
inline constexpr Result Ok = 0;       // S_OK
inline constexpr Result No = 1;       // S_FALSE ("not now" from DllCanUnloadNow)
inline constexpr Result NoInterface = qint32(0x80004002u);
inline constexpr Result InvalidPointer = qint32(0x80004003u);
inline constexpr Result Unexpected = qint32(0x8000FFFFu);
inline constexpr Result ClassNotAvailable = qint32(0x80040111u);
inline constexpr Result RegistrationFailed = qint32(0x80040201u);  // SELFREG_E_CLASS

// Type library flags.
inline constexpr quint32 TypeLibControl = 0x2;
inline constexpr quint32 TypeLibHidden = 0x4;

struct TypeLibDescription {
    const char* name;         // "ZelkorLogo1"
    QUuid libraryId;
    quint16 majorVersion;
    quint16 minorVersion;
    const char* description;  // help text
    quint32 flags;            // TypeLibControl, ...
    quint32 locale;           // 0x0409
    const char* platform;     // "win32"
};

struct InterfaceDescription {
    const char* name;  // "_ZelkorLogo"
    QUuid id;
    bool dual;
    bool hidden;
};

// The interface id DllGetClassObject is asked for.
inline constexpr QUuid IID_ClassFactory{0xf19915a1, 0x7987, 0x462a, 0x86, 0xa6, 0x1f, 0x3f, 0x34, 0xf6, 0x6e, 0xc6};

// What DllGetClassObject hands out. The runtime owns it; it lives as long as
// the process.
class ZELKOR_COMPONENT_API ClassFactory {
public:
    // A new instance as a child of parent; nullptr if the class could not
    // make one. The instance counts until it is destroyed.
    virtual QWidget* CreateInstance(QWidget* parent) = 0;
    // Keeps the library loaded while locked, whether or not instances live.
    virtual void LockServer(bool lock) = 0;

protected:
    ~ClassFactory() = default;
};

struct ClassDescription {
    const char* className;  // "ZelkorLogo1.ZelkorLogo", the name creation asks for
    const char* shortName;  // "ZelkorLogo"
    QUuid classId;
    bool control;
    InterfaceDescription defaultInterface;
    InterfaceDescription eventInterface;
    TypeLibDescription typeLibrary;
    const char* resourcePrefix;  // Qt resource folder of the library, ":/ZelkorLogo1"
    QWidget* (*create)(QWidget* parent);
};

}  // namespace component
