#include "Config.h"

#include "OptionTable.h"
#include "link/FileKind.h"
#include "station/Fixture.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <sstream>
#include <sys/stat.h>
#include <toml++/toml.h>

namespace {

class ConfigReader {
public:
    explicit ConfigReader(const QString& path) : path_(path), base_(QFileInfo(path).absoluteDir()) {}

    [[noreturn]] void refuse(const toml::source_region& where, const QString& why) const
    {
        if (where.begin.line > 0)
            throw UsageError(QStringLiteral("%1:%2: %3").arg(path_).arg(where.begin.line).arg(why).toStdString());
        throw UsageError(QStringLiteral("%1: %2").arg(path_, why).toStdString());
    }

    static QString keyText(const toml::key& key) { return QString::fromUtf8(key.str().data(), qsizetype(key.str().size())); }

    void onlyKeys(const toml::table& table, const QSet<QString>& known, const QString& where) const
    {
        for (const auto& [key, node] : table)
            if (!known.contains(keyText(key)))
                refuse(key.source(), QStringLiteral("unknown key \"%1\"%2").arg(keyText(key), where));
    }

    QString text(const toml::table& table, const char* key, bool required = false) const
    {
        const toml::node* node = table.get(key);
        if (!node) {
            if (required)
                refuse(table.source(), QStringLiteral("\"%1\" is missing").arg(QLatin1String(key)));
            return {};
        }
        const auto* value = node->as_string();
        if (!value || value->get().empty())
            refuse(node->source(), QStringLiteral("%1 must be a text in quotes, not empty").arg(QLatin1String(key)));
        return QString::fromUtf8(value->get().data(), qsizetype(value->get().size()));
    }

    // A value as the file writes it: "2.5" in quotes, true.
    static QString written(const toml::node& node)
    {
        if (const auto* text = node.as_string())
            return QStringLiteral("\"%1\"").arg(QString::fromStdString(text->get()));
        std::ostringstream out;
        node.visit([&out](const auto& value) { out << value; });
        return QString::fromStdString(out.str());
    }

    QString path(const toml::table& table, const char* key) const
    {
        const QString given = text(table, key);
        return given.isEmpty() ? given : QDir::cleanPath(base_.absoluteFilePath(given));
    }

    // What TOML made of a value, as the command line's text is described.
    static GivenValue given(const toml::node& node)
    {
        GivenValue v;
        v.shown = written(node);
        v.typed = true;
        if (const auto* text = node.as_string())
            v.shown = *(v.text = QString::fromUtf8(text->get().data(), qsizetype(text->get().size())));
        else if (const auto* whole = node.as_integer())
            v.number = double(whole->get()), v.whole = true;
        else if (const auto* number = node.as_floating_point())
            v.number = number->get();
        return v;
    }

    void apply(const StationOption& option, const QString& key, const toml::node& node, StationOptions& o) const
    {
        try {
            applyOption(option, {key, base_}, given(node), o);
        } catch (const OptionRefused& refused) {
            refuse(node.source(), QString::fromLocal8Bit(refused.what()));
        }
    }

    void read(StationOptions& o) const
    {
        toml::table root;
        try {
            root = toml::parse_file(QFile::encodeName(path_).toStdString());
        } catch (const toml::parse_error& error) {
            refuse(error.source(), QString::fromUtf8(error.description().data(), qsizetype(error.description().size())));
        }
        for (const auto& [tomlKey, node] : root) {
            const QString key = keyText(tomlKey);
            const StationOption* option = optionKeyed(key);
            if (!option)
                refuse(tomlKey.source(), QStringLiteral("unknown key \"%1\"").arg(key));
            if (option->kind == OptionKind::Fixture)
                readFixtures(node, o);
            else if (const auto* list = node.as_array(); list && option->repeatable)
                for (const toml::node& n : *list)
                    apply(*option, key, n, o);
            else
                apply(*option, key, node, o);
        }
    }

    void readFixtures(const toml::node& f, StationOptions& o) const
    {
        const auto* list = f.as_array();
        if (!list || !list->is_array_of_tables())
            refuse(f.source(), QStringLiteral("fixtures are given as [[fixture]] tables"));
        QSet<QString> names;
        for (const toml::node& entry : *list) {
            const toml::table& t = *entry.as_table();
            onlyKeys(t, {QStringLiteral("name"), QStringLiteral("port"), QStringLiteral("presence"), QStringLiteral("scanner"),
                         QStringLiteral("scanner_settings")},
                     QStringLiteral(" in a fixture"));
            FixtureOption fixture;
            // Every path here is taken from this file's folder, the port's too:
            // a service's working directory is no place to look for a device.
            const QString port = text(t, "port", true);
            fixture.selector = portFrom(port, base_);
            fixture.name = text(t, "name");
            if (fixture.name.isEmpty())
                fixture.name = port;
            if (names.contains(fixture.name))
                refuse(t.source(), QStringLiteral("two fixtures are named \"%1\"").arg(fixture.name));
            names.insert(fixture.name);
            if (const QString line = text(t, "presence"); !line.isEmpty()) {
                fixture.presence = modemLineNamed(line);
                if (!fixture.presence)
                    refuse(t.get("presence")->source(),
                           QStringLiteral("presence takes dsr, cts, dcd or ri, not '%1'").arg(line));
            }
            fixture.scanner = path(t, "scanner");
            fixture.scannerSettings = text(t, "scanner_settings");
            o.fixtures << fixture;
        }
    }

private:
    QString path_;
    QDir base_;
};

}  // namespace

void readStationConfig(const QString& path, StationOptions& options)
{
    const QFileInfo file(path);
    if (!file.exists())
        throw UsageError(QStringLiteral("--config: no such file: %1").arg(path).toStdString());
    struct stat st {};
    if (!file.isFile() && ::stat(QFile::encodeName(path).constData(), &st) == 0)
        throw UsageError(QStringLiteral("--config: %1 is %2, not a file").arg(path, fileKind(st.st_mode)).toStdString());
    ConfigReader(path).read(options);
}
