#include "Config.h"

#include "link/Errors.h"
#include "link/LineSettings.h"
#include "page/AllowedHosts.h"
#include "page/ListenAddress.h"
#include "station/Fixture.h"
#include "station/SecondsOption.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <limits>
#include <sstream>
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

    void read(StationOptions& o) const
    {
        toml::table root;
        try {
            root = toml::parse_file(QFile::encodeName(path_).toStdString());
        } catch (const toml::parse_error& error) {
            refuse(error.source(), QString::fromUtf8(error.description().data(), qsizetype(error.description().size())));
        }
        onlyKeys(root,
                 {QStringLiteral("station"), QStringLiteral("recipe"), QStringLiteral("ledger"), QStringLiteral("central"),
                  QStringLiteral("listen"), QStringLiteral("page_name"), QStringLiteral("settings"), QStringLiteral("gone_after"),
                  QStringLiteral("silence"), QStringLiteral("fixture")},
                 {});
        o.station = text(root, "station");
        o.recipe = path(root, "recipe");
        o.ledger = path(root, "ledger");
        o.central = text(root, "central");
        if (const QString listen = text(root, "listen"); !listen.isEmpty()) {
            try {
                parseListenAddress(listen);
            } catch (const std::invalid_argument& error) {
                refuse(root.get("listen")->source(), QString::fromLocal8Bit(error.what()));
            }
            o.listen = listen;
        }
        if (const toml::node* names = root.get("page_name")) {
            // One name, or a list of them.
            const auto refuseName = [&] {
                refuse(names->source(), QStringLiteral("page_name takes a host name in quotes, or a list of them"));
            };
            const auto add = [&](const toml::node& n) {
                const auto* value = n.as_string();
                if (!value)
                    refuseName();
                const QString name = QString::fromUtf8(value->get().data(), qsizetype(value->get().size()));
                if (!isHostName(name))
                    refuseName();
                o.pageNames << name;
            };
            if (const auto* list = names->as_array())
                for (const toml::node& n : *list)
                    add(n);
            else
                add(*names);
        }
        if (const QString settings = text(root, "settings"); !settings.isEmpty()) {
            try {
                LineSettings::parse(settings);
            } catch (const PelmoraError& error) {
                refuse(root.get("settings")->source(), error.report());
            }
            o.settings = settings;
        }
        if (const toml::node* k = root.get("gone_after")) {
            const auto* n = k->as_integer();
            if (!n || n->get() < 2 || n->get() > 100)
                refuse(k->source(), QStringLiteral("gone_after must be a whole number from 2 to 100"));
            o.goneAfter = int(n->get());
        }
        if (const toml::node* s = root.get("silence")) {
            const std::optional<double> v = s->is_number() ? s->value<double>() : std::nullopt;
            const double seconds = v.value_or(std::numeric_limits<double>::quiet_NaN());
            const QString refused =
                secondsRefusal(QStringLiteral("silence"), seconds, v ? QString::number(seconds) : written(*s),
                               {kShortestSilence, kLongestSilence});
            if (!refused.isEmpty())
                refuse(s->source(), refused);
            o.silence = seconds;
        }
        if (const toml::node* f = root.get("fixture")) {
            const auto* list = f->as_array();
            if (!list || !list->is_array_of_tables())
                refuse(f->source(), QStringLiteral("fixtures are given as [[fixture]] tables"));
            QSet<QString> names;
            for (const toml::node& entry : *list) {
                const toml::table& t = *entry.as_table();
                onlyKeys(t, {QStringLiteral("name"), QStringLiteral("port"), QStringLiteral("presence"), QStringLiteral("scanner"),
                             QStringLiteral("scanner_settings")},
                         QStringLiteral(" in a fixture"));
                FixtureOption fixture;
                fixture.selector = text(t, "port", true);
                fixture.name = text(t, "name");
                if (fixture.name.isEmpty())
                    fixture.name = fixture.selector;
                if (names.contains(fixture.name))
                    refuse(t.source(), QStringLiteral("two fixtures are named \"%1\"").arg(fixture.name));
                names.insert(fixture.name);
                if (const QString line = text(t, "presence"); !line.isEmpty()) {
                    fixture.presence = modemLineNamed(line);
                    if (!fixture.presence)
                        refuse(t.get("presence")->source(), QStringLiteral("presence takes dsr, cts, dcd or ri"));
                }
                // Relative to this file, as the recipe is.
                fixture.scanner = path(t, "scanner");
                fixture.scannerSettings = text(t, "scanner_settings");
                o.fixtures << fixture;
            }
        }
    }

private:
    QString path_;
    QDir base_;
};

}  // namespace

void readStationConfig(const QString& path, StationOptions& options)
{
    if (!QFileInfo(path).isFile())
        throw UsageError(QStringLiteral("--config: no such file: %1").arg(path).toStdString());
    ConfigReader(path).read(options);
}
