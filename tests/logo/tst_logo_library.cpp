// The ZelkorLogo1.ocx file: what it exports and the resources it carries.

#include "ClassDescription.h"
#include "Create.h"
#include "ZelkorLogoIds.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

namespace {

QByteArray resource(const char* name)
{
    return component::readResource(ZelkorLogoIds::ClassName, QString::fromLatin1(name)).value_or(QByteArray());
}

QJsonObject jsonResource(const char* name)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(resource(name), &error);
    return error.error == QJsonParseError::NoError ? doc.object() : QJsonObject();
}

// The identifier as the platform keeps it in memory: three little-endian
// fields, then eight bytes.
QUuid idFromResource(const QByteArray& r)
{
    if (r.size() != 20)
        return {};
    const auto* p = reinterpret_cast<const uchar*>(r.constData());
    if (qFromLittleEndian<quint32>(p) != 16)
        return {};
    return QUuid(qFromLittleEndian<quint32>(p + 4), qFromLittleEndian<quint16>(p + 8), qFromLittleEndian<quint16>(p + 10),
                 p[12], p[13], p[14], p[15], p[16], p[17], p[18], p[19]);
}

}  // namespace

class LogoLibraryTest : public QObject {
    Q_OBJECT

    QTemporaryDir sandbox_;

private slots:
    void initTestCase()
    {
        QVERIFY(sandbox_.isValid());
        qputenv("XDG_DATA_HOME", sandbox_.filePath("data").toLocal8Bit());
    }

    void exportsExactlyTheFourEntryPoints()
    {
        const QString nm = QStandardPaths::findExecutable("nm");
        if (nm.isEmpty())
            QSKIP("nm (binutils) is not installed");
        QProcess p;
        p.start(nm, {"-D", "--defined-only", QCoreApplication::applicationDirPath() + "/ZelkorLogo1.ocx"});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        QSet<QString> names;
        for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (!line.trimmed().isEmpty())
                names << QString::fromLatin1(fields.last());
        }
        const QSet<QString> expected{"DllRegisterServer", "DllUnregisterServer", "DllGetClassObject", "DllCanUnloadNow"};
        QCOMPARE(names, expected);
    }

    void typeLibraryDescription()
    {
        const QJsonObject lib = jsonResource("TYPELIB");
        QCOMPARE(lib.value("Name").toString(), QString("ZelkorLogo1"));
        QCOMPARE(lib.value("Version").toString(), QString("4.0"));
        QCOMPARE(lib.value("Description").toString(), QString("ZelkorLogo1"));
        QVERIFY(lib.value("Flags").toArray().contains(QJsonValue("Control")));
        QCOMPARE(lib.value("Locale").toString(), QString("0x0409"));
        QCOMPARE(lib.value("Platform").toString(), QString("win32"));
        QCOMPARE(QUuid::fromString(lib.value("Id").toString()), ZelkorLogoIds::LIBID_ZelkorLogo1);

        const QJsonArray classes = lib.value("Classes").toArray();
        QCOMPARE(classes.size(), 1);
        const QJsonObject cls = classes.at(0).toObject();
        QCOMPARE(cls.value("Name").toString(), QString("ZelkorLogo"));
        QCOMPARE(cls.value("ProgID").toString(), QString("ZelkorLogo1.ZelkorLogo"));
        QCOMPARE(QUuid::fromString(cls.value("Id").toString()), ZelkorLogoIds::CLSID_ZelkorLogo);
        QVERIFY(cls.value("Control").toBool());

        const QJsonArray interfaces = lib.value("Interfaces").toArray();
        QCOMPARE(interfaces.size(), 2);
        const QJsonObject def = interfaces.at(0).toObject();
        const QJsonObject events = interfaces.at(1).toObject();
        QCOMPARE(def.value("Name").toString(), QString("_ZelkorLogo"));
        QCOMPARE(QUuid::fromString(def.value("Id").toString()), ZelkorLogoIds::IID__ZelkorLogo);
        QVERIFY(def.value("Dual").toBool() && def.value("Hidden").toBool());
        QCOMPARE(events.value("Name").toString(), QString("__ZelkorLogo"));
        QCOMPARE(QUuid::fromString(events.value("Id").toString()), ZelkorLogoIds::DIID___ZelkorLogo);
        QVERIFY(events.value("Hidden").toBool());
        QVERIFY(def.value("Members").toArray().isEmpty() && events.value("Members").toArray().isEmpty());

        // The runtime's view of the class says the same.
        const component::ClassDescription& d = component::describe(ZelkorLogoIds::ClassName);
        QCOMPARE(QString(d.typeLibrary.name), QString("ZelkorLogo1"));
        QCOMPARE(d.typeLibrary.majorVersion, 4);
        QCOMPARE(d.typeLibrary.minorVersion, 0);
        QCOMPARE(d.typeLibrary.locale, 0x0409u);
        QVERIFY(d.typeLibrary.flags & component::TypeLibControl);
    }

    void interfaceIdResources()
    {
        QCOMPARE(resource("_IID_ZELKORLOGO").size(), 20);
        QCOMPARE(idFromResource(resource("_IID_ZELKORLOGO")), ZelkorLogoIds::IID__ZelkorLogo);
        QCOMPARE(resource("_SRCIID_ZELKORLOGO").size(), 20);
        QCOMPARE(idFromResource(resource("_SRCIID_ZELKORLOGO")), ZelkorLogoIds::DIID___ZelkorLogo);
        QVERIFY(!component::readResource(ZelkorLogoIds::ClassName, "_NO_SUCH_RESOURCE"));
    }

    void toolboxPicture()
    {
        const QByteArray xpm = resource("BITMAP/30000");
        QVERIFY(xpm.startsWith("/* XPM */"));
        QVERIFY(xpm.contains("\"16 15 16 1\""));
        QImage img;
        QVERIFY(img.loadFromData(xpm, "XPM"));
        QCOMPARE(img.size(), QSize(16, 15));
        const QSet<QRgb> sixteen{0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080, 0xFF800080,
                                 0xFF008080, 0xFFC0C0C0, 0xFF808080, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00,
                                 0xFF0000FF, 0xFFFF00FF, 0xFF00FFFF, 0xFFFFFFFF};
        int blueTitle = 0, yellow = 0, white = 0;
        for (int y = 0; y < 15; ++y) {
            for (int x = 0; x < 16; ++x) {
                const QRgb c = img.pixel(x, y) | 0xFF000000;
                QVERIFY2(sixteen.contains(c), qPrintable(QString::number(c, 16)));
                if (y < 5 && (c == 0xFF000080 || c == 0xFF0000FF))
                    ++blueTitle;
                yellow += c == 0xFFFFFF00;
                white += c == 0xFFFFFFFF;
            }
        }
        QVERIFY(blueTitle >= 10);  // the window's title bar, at the top
        QVERIFY(yellow >= 5);      // the pencil
        QVERIFY(white >= 30);      // the window
    }

    void versionBlock()
    {
        const QJsonObject v = jsonResource("VERSION");
        const QJsonObject fixed = v.value("FixedFileInfo").toObject();
        QCOMPARE(fixed.value("FileVersion").toString(), QString("1.0.0.0"));
        QCOMPARE(fixed.value("ProductVersion").toString(), QString("1.0.0.0"));
        QCOMPARE(fixed.value("FileType").toString(), QString("DLL"));
        const QJsonObject translation = v.value("Translation").toObject();
        QCOMPARE(translation.value("Language").toString(), QString("0x0409"));
        QCOMPARE(translation.value("CodePage").toInt(), 1200);

        const QJsonObject strings = v.value("StringFileInfo").toObject().value("040904B0").toObject();
        QCOMPARE(strings.value("FileVersion").toString(), QString("1.00"));
        QCOMPARE(strings.value("ProductVersion").toString(), QString("1.00"));
        QCOMPARE(strings.value("ProductName").toString(), QString("ZelkorLogo1"));
        QCOMPARE(strings.value("InternalName").toString(), QString("ZelkorLogo1"));
        QCOMPARE(strings.value("OriginalFilename").toString(), QString("ZelkorLogo1.ocx"));
        QCOMPARE(strings.value("CompanyName").toString(), QString("ZELKOR"));
        QVERIFY(strings.contains("OLESelfRegister"));
        QCOMPARE(strings.value("OLESelfRegister").toString(), QString());
    }
};

QTEST_MAIN(LogoLibraryTest)
#include "tst_logo_library.moc"
