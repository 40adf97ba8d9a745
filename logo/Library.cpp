// The library's entry points. None does work of its own: each hands the one
// class description to the component runtime.

#include "Runtime.h"
#include "TypeLibrary.h"
#include "ZelkorLogo.h"

#define ZELKOR_ENTRY_POINT extern "C" __attribute__((visibility("default")))

namespace {

QWidget* createZelkorLogo(QWidget* parent)
{
    return new logo::ZelkorLogo(parent);
}

constexpr component::ClassDescription ZelkorLogoClass{
    .className = ZelkorLogoIds::ClassName,
    .shortName = "ZelkorLogo",
    .classId = ZelkorLogoIds::CLSID_ZelkorLogo,
    .control = true,
    .defaultInterface = logo::DefaultInterface,
    .eventInterface = logo::EventInterface,
    .typeLibrary = logo::ZelkorLogo1TypeLib,
    .resourcePrefix = logo::ResourcePrefix,
    .create = &createZelkorLogo,
};

// The load entry, run when the library is loaded and before it is unloaded.
struct LoadEntry {
    LoadEntry() { component::libraryLoaded(ZelkorLogoClass); }
    ~LoadEntry() { component::libraryUnloading(ZelkorLogoClass); }
    LoadEntry(const LoadEntry&) = delete;
    LoadEntry& operator=(const LoadEntry&) = delete;
};
const LoadEntry loadEntry;

}  // namespace

ZELKOR_ENTRY_POINT component::Result DllRegisterServer()
{
    return component::registerServer(ZelkorLogoClass);
}

ZELKOR_ENTRY_POINT component::Result DllUnregisterServer()
{
    return component::unregisterServer(ZelkorLogoClass);
}

ZELKOR_ENTRY_POINT component::Result DllGetClassObject(const QUuid* classId, const QUuid* interfaceId, void** out)
{
    return component::getClassObject(ZelkorLogoClass, classId, interfaceId, out);
}

ZELKOR_ENTRY_POINT component::Result DllCanUnloadNow()
{
    return component::canUnloadNow(ZelkorLogoClass);
}
