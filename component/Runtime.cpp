#include "Runtime.h"

#include "Modules.h"
#include "Registry.h"

#include <QFileInfo>
#include <QWidget>
#include <dlfcn.h>
#include <memory>
#include <vector>

namespace component::detail {

namespace {

class Factory;

}  // namespace

struct Module {
    const ClassDescription* description = nullptr;  // nullptr once unloaded
    const void* base = nullptr;
    QString path;
    int instances = 0;
    int locks = 0;
    std::unique_ptr<Factory> factory;
};

namespace {

class Factory final : public ClassFactory {
public:
    explicit Factory(Module& m) : module_(m) {}

    QWidget* CreateInstance(QWidget* parent) override
    {
        if (!module_.description || !module_.description->create)
            return nullptr;
        QWidget* w = module_.description->create(parent);
        if (!w)
            return nullptr;
        ++module_.instances;
        // Modules are never forgotten, so the counter outlives every instance.
        Module* m = &module_;
        QObject::connect(w, &QObject::destroyed, [m] { --m->instances; });
        return w;
    }

    void LockServer(bool lock) override
    {
        if (lock)
            ++module_.locks;
        else if (module_.locks > 0)
            --module_.locks;
    }

private:
    Module& module_;
};

std::vector<std::unique_ptr<Module>>& modules()
{
    static std::vector<std::unique_ptr<Module>> all;
    return all;
}

}  // namespace

const void* imageBase(const void* address)
{
    Dl_info info{};
    if (dladdr(address, &info) == 0)
        return nullptr;
    return info.dli_fbase;
}

Module& moduleOf(const ClassDescription& d)
{
    for (auto& m : modules())
        if (m->description == &d)
            return *m;
    auto m = std::make_unique<Module>();
    m->description = &d;
    Dl_info info{};
    if (dladdr(static_cast<const void*>(&d), &info) != 0) {
        m->base = info.dli_fbase;
        // Made absolute now: a relative name means relative to today's working folder.
        if (info.dli_fname)
            m->path = QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absoluteFilePath();
    }
    m->factory = std::make_unique<Factory>(*m);
    modules().push_back(std::move(m));
    return *modules().back();
}

const ClassDescription* loadedClass(const void* base, const QString& className)
{
    for (auto& m : modules())
        if (m->description && m->base == base && QString::fromUtf8(m->description->className) == className)
            return m->description;
    return nullptr;
}

QString modulePath(const Module& m)
{
    return m.path;
}

}  // namespace component::detail

namespace component {

using detail::moduleOf;

void libraryLoaded(const ClassDescription& d) noexcept
{
    try {
        moduleOf(d);
    } catch (...) {
        // Out of memory at load time: the class is simply not offered.
    }
}

void libraryUnloading(const ClassDescription& d) noexcept
{
    try {
        moduleOf(d).description = nullptr;
    } catch (...) {
    }
}

Result registerServer(const ClassDescription& d) noexcept
{
    try {
        const QString path = detail::modulePath(moduleOf(d));
        if (path.isEmpty())
            return RegistrationFailed;
        return detail::writeRegistration(d, path) ? Ok : RegistrationFailed;
    } catch (...) {
        return RegistrationFailed;
    }
}

Result unregisterServer(const ClassDescription& d) noexcept
{
    try {
        return detail::removeRegistration(d) ? Ok : RegistrationFailed;
    } catch (...) {
        return RegistrationFailed;
    }
}

Result getClassObject(const ClassDescription& d, const QUuid* classId, const QUuid* interfaceId, void** out) noexcept
{
    if (!out)
        return InvalidPointer;
    *out = nullptr;
    if (!classId || !interfaceId)
        return InvalidPointer;
    if (*classId != d.classId)
        return ClassNotAvailable;
    if (*interfaceId != IID_ClassFactory)
        return NoInterface;
    try {
        *out = static_cast<ClassFactory*>(moduleOf(d).factory.get());
        return Ok;
    } catch (...) {
        return Unexpected;
    }
}

Result canUnloadNow(const ClassDescription& d) noexcept
{
    try {
        const auto& m = moduleOf(d);
        return (m.instances == 0 && m.locks == 0) ? Ok : No;
    } catch (...) {
        return No;
    }
}

}  // namespace component
