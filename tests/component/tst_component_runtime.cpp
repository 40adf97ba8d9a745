// Creation by class name, the per-user registry and instance counting, with
// the real ZelkorLogo1.ocx as the class library.

#include "ClassDescription.h"
#include "Create.h"
#include "Runtime.h"
#include "ZelkorLogoIds.h"

#include <QFile>
#include <QLibrary>
#include <QSettings>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>
#include <dlfcn.h>
#include <memory>

namespace {

// The file that holds the code of an object made by a library.
QString libraryOf(const QObject* o)
{
    Dl_info info{};
    if (dladdr(static_cast<const void*>(o->metaObject()), &info) == 0 || !info.dli_fname)
        return {};
    return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).canonicalFilePath();
}

template <typename Fn>
Fn entry(QLibrary& lib, const char* name)
{
    return reinterpret_cast<Fn>(lib.resolve(name));
}

}  // namespace

class ComponentRuntimeTest : public QObject {
    Q_OBJECT

    QTemporaryDir sandbox_;
    QString builtLibrary_;

    void clearRegistry() { QFile::remove(component::registryFile()); }

    // A second copy of the library in its own folder, so creation through the
    // registry can be told apart from creation beside the executable.
    QString copyOfLibrary(const QString& folder)
    {
        QDir().mkpath(sandbox_.filePath(folder));
        const QString path = sandbox_.filePath(folder + "/ZelkorLogo1.ocx");
        QFile::remove(path);
        if (!QFile::copy(builtLibrary_, path))
            return {};
        return QFileInfo(path).canonicalFilePath();
    }

private slots:
    void initTestCase()
    {
        // Never the real user's registry, even when run by hand.
        QVERIFY(sandbox_.isValid());
        qputenv("XDG_DATA_HOME", sandbox_.filePath("data").toLocal8Bit());
        QVERIFY(component::registryFile().startsWith(sandbox_.path()));
        builtLibrary_ = QFileInfo(QCoreApplication::applicationDirPath() + "/ZelkorLogo1.ocx").canonicalFilePath();
        QVERIFY2(!builtLibrary_.isEmpty(), "ZelkorLogo1.ocx is not beside the test");
    }

    void init() { clearRegistry(); }

    void unknownClassFailsWithNumberedError()
    {
        try {
            std::unique_ptr<QWidget> w(component::createByClassName("Nope.Nothing"));
            QFAIL("an unknown class was created");
        } catch (const component::ComponentError& e) {
            QCOMPARE(e.number(), 429);
            QVERIFY2(e.text().startsWith("Can't create object"), qPrintable(e.text()));
            QVERIFY(e.text().contains("Class not registered"));
            QVERIFY(e.text().contains("\"Nope.Nothing\""));
            // Says where it looked.
            QVERIFY(e.text().contains(QCoreApplication::applicationDirPath() + "/Nope.ocx"));
            QVERIFY(e.text().contains(component::registryFile()));
            QCOMPARE(QString::fromStdString(e.what()), e.report());
            QVERIFY(e.report().startsWith("Error 429: Can't create object"));
        }
    }

    void classNamesNeverBecomePaths_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("empty") << "";
        QTest::newRow("no dot") << "ZelkorLogo1";
        QTest::newRow("parent folder") << "../ZelkorLogo1.ZelkorLogo";
        QTest::newRow("absolute") << "/tmp/ZelkorLogo1.ZelkorLogo";
        QTest::newRow("three parts") << "ZelkorLogo1.ZelkorLogo.x";
        QTest::newRow("group separator") << "ZelkorLogo1/x.ZelkorLogo";
    }
    void classNamesNeverBecomePaths()
    {
        QFETCH(QString, name);
        QVERIFY(component::searchPlaces(name).isEmpty());
        QVERIFY_THROWS_EXCEPTION(component::ComponentError, component::createByClassName(name));
    }

    void searchOrderIsBesideExecutableThenInstallFolders()
    {
        const QStringList places = component::searchPlaces(ZelkorLogoIds::ClassName);
        QVERIFY(places.size() >= 3);
        const QString exe = QCoreApplication::applicationDirPath();
        QCOMPARE(places.at(0), exe + "/ZelkorLogo1.ocx");
        QCOMPARE(places.at(1), QDir::cleanPath(exe + "/../lib/pelmora/ZelkorLogo1.ocx"));
        for (const QString& p : places.mid(1))
            QVERIFY2(p.endsWith("/pelmora/ZelkorLogo1.ocx"), qPrintable(p));
    }

    void createsBesideExecutableWithoutRegistration()
    {
        QVERIFY(!component::registration(ZelkorLogoIds::ClassName));
        QWidget parent;
        QWidget* w = component::createByClassName(ZelkorLogoIds::ClassName, &parent);
        QVERIFY(w);
        QCOMPARE(w->parentWidget(), &parent);
        QCOMPARE(w->metaObject()->className(), "logo::ZelkorLogo");
        QCOMPARE(libraryOf(w), builtLibrary_);
    }

    void registerCreateFromRegistryUnregister()
    {
        const QString copy = copyOfLibrary("registered");
        QVERIFY(!copy.isEmpty());
        QLibrary lib(copy);
        QVERIFY2(lib.load(), qPrintable(lib.errorString()));
        auto reg = entry<DllRegisterServerFn>(lib, "DllRegisterServer");
        auto unreg = entry<DllUnregisterServerFn>(lib, "DllUnregisterServer");
        QVERIFY(reg && unreg);

        QCOMPARE(reg(), component::Ok);
        const auto r = component::registration(ZelkorLogoIds::ClassName);
        QVERIFY(r);
        QCOMPARE(r->classId, ZelkorLogoIds::CLSID_ZelkorLogo);
        QCOMPARE(r->libraryPath, copy);

        // The registry wins over the copy beside the executable.
        {
            QWidget parent;
            QWidget* w = component::createByClassName(ZelkorLogoIds::ClassName, &parent);
            QVERIFY(w);
            QCOMPARE(libraryOf(w), copy);
        }

        QCOMPARE(unreg(), component::Ok);
        QVERIFY(!component::registration(ZelkorLogoIds::ClassName));
        QWidget parent;
        QWidget* w = component::createByClassName(ZelkorLogoIds::ClassName, &parent);
        QCOMPARE(libraryOf(w), builtLibrary_);
        // Unregistering twice is no failure.
        QCOMPARE(unreg(), component::Ok);
    }

    void registryHoldsClassInterfacesAndTypeLibrary()
    {
        QLibrary lib(builtLibrary_);
        QVERIFY(lib.load());
        QCOMPARE(entry<DllRegisterServerFn>(lib, "DllRegisterServer")(), component::Ok);

        QSettings reg(component::registryFile(), QSettings::IniFormat);
        const QString clsid = ZelkorLogoIds::CLSID_ZelkorLogo.toString(QUuid::WithoutBraces);
        const QString libid = ZelkorLogoIds::LIBID_ZelkorLogo1.toString(QUuid::WithoutBraces);
        QCOMPARE(reg.value("ProgID/ZelkorLogo1.ZelkorLogo/CLSID").toString(), clsid);
        QCOMPARE(reg.value("CLSID/" + clsid + "/ProgID").toString(), QString("ZelkorLogo1.ZelkorLogo"));
        QCOMPARE(reg.value("CLSID/" + clsid + "/InprocServer").toString(), builtLibrary_);
        QCOMPARE(reg.value("CLSID/" + clsid + "/Control").toBool(), true);
        QCOMPARE(reg.value("TypeLib/" + libid + "/4.0/Name").toString(), QString("ZelkorLogo1"));
        QCOMPARE(reg.value("TypeLib/" + libid + "/4.0/Description").toString(), QString("ZelkorLogo1"));
        QCOMPARE(reg.value("TypeLib/" + libid + "/4.0/Locale").toString(), QString("0x0409"));
        QCOMPARE(reg.value("Interface/" + ZelkorLogoIds::IID__ZelkorLogo.toString(QUuid::WithoutBraces) + "/Name").toString(),
                 QString("_ZelkorLogo"));
        QCOMPARE(reg.value("Interface/" + ZelkorLogoIds::DIID___ZelkorLogo.toString(QUuid::WithoutBraces) + "/Name").toString(),
                 QString("__ZelkorLogo"));

        QCOMPARE(entry<DllUnregisterServerFn>(lib, "DllUnregisterServer")(), component::Ok);
        reg.sync();
        QVERIFY(reg.allKeys().isEmpty());
    }

    void staleRegistrationFallsBackBesideExecutable()
    {
        const QString copy = copyOfLibrary("stale");
        QLibrary lib(copy);
        QVERIFY(lib.load());
        QCOMPARE(entry<DllRegisterServerFn>(lib, "DllRegisterServer")(), component::Ok);
        QVERIFY(QFile::remove(copy));

        QWidget parent;
        QWidget* w = component::createByClassName(ZelkorLogoIds::ClassName, &parent);
        QCOMPARE(libraryOf(w), builtLibrary_);
    }

    void canUnloadOnlyWithoutInstancesOrLocks()
    {
        QLibrary lib(builtLibrary_);
        QVERIFY(lib.load());
        auto canUnload = entry<DllCanUnloadNowFn>(lib, "DllCanUnloadNow");
        auto getClassObject = entry<DllGetClassObjectFn>(lib, "DllGetClassObject");
        QVERIFY(canUnload && getClassObject);

        QCOMPARE(canUnload(), component::Ok);
        auto parent = std::make_unique<QWidget>();
        QWidget* first = component::createByClassName(ZelkorLogoIds::ClassName, parent.get());
        QWidget* second = component::createByClassName(ZelkorLogoIds::ClassName, parent.get());
        QCOMPARE(canUnload(), component::No);
        delete first;
        QCOMPARE(canUnload(), component::No);
        delete second;
        QCOMPARE(canUnload(), component::Ok);

        // Instances freed with their parent count down too.
        component::createByClassName(ZelkorLogoIds::ClassName, parent.get());
        QCOMPARE(canUnload(), component::No);
        parent.reset();
        QCOMPARE(canUnload(), component::Ok);

        void* out = nullptr;
        QCOMPARE(getClassObject(&ZelkorLogoIds::CLSID_ZelkorLogo, &component::IID_ClassFactory, &out), component::Ok);
        auto* factory = static_cast<component::ClassFactory*>(out);
        factory->LockServer(true);
        QCOMPARE(canUnload(), component::No);
        factory->LockServer(false);
        QCOMPARE(canUnload(), component::Ok);
        // An unlock without a lock does not buy a later lock for free.
        factory->LockServer(false);
        factory->LockServer(true);
        QCOMPARE(canUnload(), component::No);
        factory->LockServer(false);
    }

    void classObjectOnlyForItsClassAndFactoryInterface()
    {
        QLibrary lib(builtLibrary_);
        QVERIFY(lib.load());
        auto getClassObject = entry<DllGetClassObjectFn>(lib, "DllGetClassObject");
        void* out = reinterpret_cast<void*>(0x1);
        QCOMPARE(getClassObject(&ZelkorLogoIds::IID__ZelkorLogo, &component::IID_ClassFactory, &out),
                 component::ClassNotAvailable);
        QCOMPARE(out, nullptr);
        out = reinterpret_cast<void*>(0x1);
        QCOMPARE(getClassObject(&ZelkorLogoIds::CLSID_ZelkorLogo, &ZelkorLogoIds::IID__ZelkorLogo, &out),
                 component::NoInterface);
        QCOMPARE(out, nullptr);
        QCOMPARE(getClassObject(&ZelkorLogoIds::CLSID_ZelkorLogo, &component::IID_ClassFactory, nullptr),
                 component::InvalidPointer);
        QCOMPARE(getClassObject(nullptr, &component::IID_ClassFactory, &out), component::InvalidPointer);

        // The factory makes working instances with the parent asked for.
        QCOMPARE(getClassObject(&ZelkorLogoIds::CLSID_ZelkorLogo, &component::IID_ClassFactory, &out), component::Ok);
        QWidget parent;
        QWidget* w = static_cast<component::ClassFactory*>(out)->CreateInstance(&parent);
        QVERIFY(w);
        QCOMPARE(w->parentWidget(), &parent);
    }

    void describeGivesTheClassDescription()
    {
        const component::ClassDescription& d = component::describe(ZelkorLogoIds::ClassName);
        QCOMPARE(d.classId, ZelkorLogoIds::CLSID_ZelkorLogo);
        QCOMPARE(d.defaultInterface.id, ZelkorLogoIds::IID__ZelkorLogo);
        QCOMPARE(d.eventInterface.id, ZelkorLogoIds::DIID___ZelkorLogo);
        QCOMPARE(d.typeLibrary.libraryId, ZelkorLogoIds::LIBID_ZelkorLogo1);
        QVERIFY(d.control);
        QVERIFY_THROWS_EXCEPTION(component::ComponentError, component::describe("Nope.Nothing"));
    }
};

QTEST_MAIN(ComponentRuntimeTest)
#include "tst_component_runtime.moc"
