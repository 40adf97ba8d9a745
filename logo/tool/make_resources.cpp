// Writes the library's generated resources into the folder given: the type
// library description and the two interface-id resources. Generated from the
// same constants the library's class description uses, so the ids live in
// one header only.

#include "TypeLibrary.h"
#include "ZelkorLogoIds.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>
#include <cstdio>

namespace {

QString idText(const QUuid& id)
{
    return id.toString(QUuid::WithBraces).toUpper();
}

// A 32-bit length 16, then the identifier as the platform keeps it in memory
// (first three fields little-endian, then the eight bytes as they are).
QByteArray idResource(const QUuid& id)
{
    QByteArray out(4 + 16, '\0');
    uchar* p = reinterpret_cast<uchar*>(out.data());
    qToLittleEndian<quint32>(16, p);
    qToLittleEndian<quint32>(id.data1, p + 4);
    qToLittleEndian<quint16>(id.data2, p + 8);
    qToLittleEndian<quint16>(id.data3, p + 10);
    for (int i = 0; i < 8; ++i)
        p[12 + i] = id.data4[i];
    return out;
}

QJsonObject interfaceJson(const component::InterfaceDescription& i, const char* kind)
{
    return QJsonObject{{"Name", i.name},
                       {"Id", idText(i.id)},
                       {"Kind", kind},
                       {"Dual", i.dual},
                       {"Hidden", i.hidden},
                       {"Members", QJsonArray{}}};
}

QByteArray typeLibrary()
{
    const auto& t = logo::ZelkorLogo1TypeLib;
    QJsonArray flags;
    if (t.flags & component::TypeLibControl)
        flags << "Control";
    if (t.flags & component::TypeLibHidden)
        flags << "Hidden";
    const QJsonObject cls{{"Name", "ZelkorLogo"},
                          {"Id", idText(ZelkorLogoIds::CLSID_ZelkorLogo)},
                          {"ProgID", ZelkorLogoIds::ClassName},
                          {"Control", true},
                          {"DefaultInterface", logo::DefaultInterface.name},
                          {"EventInterface", logo::EventInterface.name}};
    const QJsonObject lib{
        {"Name", t.name},
        {"Id", idText(t.libraryId)},
        {"Version", QStringLiteral("%1.%2").arg(t.majorVersion).arg(t.minorVersion)},
        {"Description", t.description},
        {"Flags", flags},
        {"Locale", QStringLiteral("0x%1").arg(t.locale, 4, 16, QLatin1Char('0'))},
        {"Platform", t.platform},
        {"Classes", QJsonArray{cls}},
        {"Interfaces", QJsonArray{interfaceJson(logo::DefaultInterface, "interface"),
                                  interfaceJson(logo::EventInterface, "dispinterface")}},
    };
    return QJsonDocument(lib).toJson(QJsonDocument::Indented);
}

bool write(const QString& path, const QByteArray& data)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(data) != data.size()) {
        std::fprintf(stderr, "make_resources: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_resources OUTDIR\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(dir))
        return 1;
    const bool ok = write(dir + "/TYPELIB", typeLibrary()) &&
                    write(dir + "/_IID_ZELKORLOGO", idResource(ZelkorLogoIds::IID__ZelkorLogo)) &&
                    write(dir + "/_SRCIID_ZELKORLOGO", idResource(ZelkorLogoIds::DIID___ZelkorLogo));
    return ok ? 0 : 1;
}
