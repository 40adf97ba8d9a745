// zelkor-regsvr [-u] FILE: registers (or with -u unregisters) the control
// library FILE in the per-user registry by calling its own entry point.

#include "Create.h"
#include "Runtime.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>
#include <QStringList>
#include <cstdio>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: zelkor-regsvr [-u] FILE\n"
                         "  registers the control library FILE for this user; -u unregisters it\n");
    return 2;
}

void say(FILE* to, const QString& text)
{
    std::fprintf(to, "%s\n", text.toLocal8Bit().constData());
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    bool unregister = false;
    if (!args.isEmpty() && args.front() == QLatin1String("-u")) {
        unregister = true;
        args.pop_front();
    }
    if (args.size() != 1 || args.front().startsWith(QLatin1Char('-')))
        return usage();

    const QFileInfo file(args.front());
    if (!file.isFile()) {
        say(stderr, QStringLiteral("zelkor-regsvr: %1: no such file").arg(args.front()));
        return 1;
    }
    // Absolute, so the registry names the file whatever folder the program runs in.
    QLibrary lib(file.absoluteFilePath());
    if (!lib.load()) {
        say(stderr, QStringLiteral("zelkor-regsvr: %1: cannot load: %2").arg(file.absoluteFilePath(), lib.errorString()));
        return 1;
    }
    const char* entryName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto entry = reinterpret_cast<DllRegisterServerFn>(lib.resolve(entryName));
    if (!entry) {
        say(stderr, QStringLiteral("zelkor-regsvr: %1: no entry point %2").arg(file.absoluteFilePath(), QLatin1String(entryName)));
        return 1;
    }
    const component::Result r = entry();
    if (r != component::Ok) {
        say(stderr, QStringLiteral("zelkor-regsvr: %1 in %2 failed: 0x%3")
                        .arg(QLatin1String(entryName), file.absoluteFilePath())
                        .arg(quint32(r), 8, 16, QLatin1Char('0')));
        return 1;
    }
    say(stdout, QStringLiteral("%1 %2 (%3)")
                    .arg(unregister ? QStringLiteral("Unregistered") : QStringLiteral("Registered"),
                         file.absoluteFilePath(), component::registryFile()));
    return 0;
}
