#include "Recipe.h"

#include "link/Errors.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <toml++/toml.h>

namespace {

QString sha256Hex(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

class Reader {
public:
    explicit Reader(const QString& path) : path_(path) {}

    [[noreturn]] void refuse(const toml::source_region& where, const QString& why) const
    {
        if (where.begin.line > 0)
            throw RecipeError(QStringLiteral("%1:%2: %3").arg(path_).arg(where.begin.line).arg(why).toStdString());
        throw RecipeError(QStringLiteral("%1: %2").arg(path_, why).toStdString());
    }

    // Keys nobody reads are refused: a misspelt "sha256" must not turn the pin off.
    void onlyKeys(const toml::table& table, const QSet<QString>& known, const QString& where) const
    {
        for (const auto& [key, node] : table)
            if (!known.contains(QString::fromUtf8(key.str().data(), qsizetype(key.str().size()))))
                refuse(key.source(), QStringLiteral("unknown key \"%1\" %2")
                                         .arg(QString::fromUtf8(key.str().data(), qsizetype(key.str().size())),
                                              where));
    }

    QString text(const toml::node& node, const QString& what) const
    {
        const auto* value = node.as_string();
        if (!value)
            refuse(node.source(), QStringLiteral("%1 must be a text in quotes").arg(what));
        const std::string& s = value->get();
        return QString::fromUtf8(s.data(), qsizetype(s.size()));
    }

    RecipeLabel label(const toml::table& table, const QDir& base, int index, QSet<int>& slotsNamed) const
    {
        const QString where = QStringLiteral("in label %1").arg(index);
        onlyKeys(table, {QStringLiteral("slot"), QStringLiteral("file"), QStringLiteral("sha256"), QStringLiteral("allow_empty")},
                 where);
        RecipeLabel l;

        const toml::node* slot = table.get("slot");
        if (!slot)
            refuse(table.source(), QStringLiteral("label %1 has no slot").arg(index));
        const auto* number = slot->as_integer();
        if (!number || number->get() < 1 || number->get() > 5)
            refuse(slot->source(), QStringLiteral("slot must be a whole number from 1 to 5"));
        l.slot = int(number->get());
        if (slotsNamed.contains(l.slot))
            refuse(slot->source(), QStringLiteral("slot %1 is named twice").arg(l.slot));
        slotsNamed.insert(l.slot);

        const toml::node* file = table.get("file");
        if (!file)
            refuse(table.source(), QStringLiteral("label %1 has no file").arg(index));
        l.file = text(*file, QStringLiteral("file"));
        if (l.file.isEmpty())
            refuse(file->source(), QStringLiteral("file is empty"));
        const QString path = QDir::cleanPath(base.absoluteFilePath(l.file));
        try {
            l.facts = checkLabelFile(path);
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly))
                throw PelmoraError(ErrorNumber::PermissionDenied, path);
            l.bytes = f.readAll();
            // What was read is the file that was checked, not one written meanwhile.
            requireUnchangedSinceLoad(l.facts);
            if (l.bytes.size() != l.facts.size)
                throw PelmoraError(ErrorNumber::PathFileAccess, QStringLiteral("%1 changed while it was read").arg(path));
        } catch (const PelmoraError& error) {
            refuse(file->source(), error.report());
        }
        l.sha256 = sha256Hex(l.bytes);
        bool allowEmpty = false;
        if (const toml::node* allow = table.get("allow_empty")) {
            if (!allow->as_boolean())
                refuse(allow->source(), QStringLiteral("allow_empty must be true or false"));
            allowEmpty = allow->as_boolean()->get();
        }
        if (l.bytes.isEmpty() && !allowEmpty)
            refuse(file->source(), QStringLiteral("%1 is empty; loading it would blank the slot (allow_empty = true loads it)")
                                       .arg(l.file));

        if (const toml::node* pin = table.get("sha256")) {
            const QString wanted = text(*pin, QStringLiteral("sha256")).toLower();
            static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{64}$"));
            if (!hex.match(wanted).hasMatch())
                refuse(pin->source(), QStringLiteral("sha256 must be 64 hexadecimal digits"));
            if (wanted != l.sha256)
                refuse(pin->source(), QStringLiteral("%1 is not the pinned file: its SHA-256 is %2").arg(l.file, l.sha256));
        }
        return l;
    }

    SerialRule serial(const toml::table& table) const
    {
        onlyKeys(table, {QStringLiteral("pattern"), QStringLiteral("check"), QStringLiteral("duplicates")},
                 QStringLiteral("in [serial] (pattern, check, duplicates)"));
        SerialRule rule;
        rule.given = true;
        if (const toml::node* pattern = table.get("pattern")) {
            rule.patternText = text(*pattern, QStringLiteral("pattern"));
            if (rule.patternText.isEmpty())
                refuse(pattern->source(), QStringLiteral("pattern is empty"));
            // The whole scan must match, however the recipe writes it.
            rule.pattern = QRegularExpression(QRegularExpression::anchoredPattern(rule.patternText));
            if (!rule.pattern.isValid())
                refuse(pattern->source(), QStringLiteral("pattern is not a regular expression: %1 at character %2")
                                              .arg(rule.pattern.errorString())
                                              .arg(rule.pattern.patternErrorOffset()));
        }
        if (const toml::node* check = table.get("check")) {
            const auto named = checkNamed(text(*check, QStringLiteral("check")));
            if (!named)
                refuse(check->source(), QStringLiteral("check takes none, gs1 or luhn"));
            rule.check = *named;
        }
        if (const toml::node* duplicates = table.get("duplicates")) {
            const QString d = text(*duplicates, QStringLiteral("duplicates"));
            if (d != QLatin1String("refuse") && d != QLatin1String("allow"))
                refuse(duplicates->source(), QStringLiteral("duplicates takes refuse or allow"));
            rule.allowDuplicates = d == QLatin1String("allow");
        }
        return rule;
    }

    Recipe read() const
    {
        Recipe r;
        r.path = QFileInfo(path_).absoluteFilePath();
        QFile file(path_);
        if (!file.open(QIODevice::ReadOnly))
            throw RecipeError(QStringLiteral("%1: cannot read the recipe: %2").arg(path_, file.errorString()).toStdString());
        const QByteArray content = file.readAll();
        r.sha256 = sha256Hex(content);

        toml::table root;
        try {
            root = toml::parse(std::string_view(content.constData(), size_t(content.size())),
                               std::string(QFile::encodeName(path_).constData()));
        } catch (const toml::parse_error& error) {
            const std::string_view why = error.description();
            refuse(error.source(), QString::fromUtf8(why.data(), qsizetype(why.size())));
        }
        onlyKeys(root, {QStringLiteral("name"), QStringLiteral("label"), QStringLiteral("serial")},
                 QStringLiteral("(a recipe has name, [[label]] and [serial])"));

        const toml::node* name = root.get("name");
        if (!name)
            refuse({}, QStringLiteral("the recipe has no name (name = \"...\")"));
        r.name = text(*name, QStringLiteral("name")).trimmed();
        if (r.name.isEmpty())
            refuse(name->source(), QStringLiteral("name is empty"));

        const toml::node* labels = root.get("label");
        const toml::array* list = labels ? labels->as_array() : nullptr;
        if (!list || list->empty())
            refuse(labels ? labels->source() : toml::source_region{},
                   QStringLiteral("the recipe names no label ([[label]] with slot and file)"));
        if (list->size() > size_t(kMaxRecipeLabels))
            refuse((*list)[kMaxRecipeLabels].source(), QStringLiteral("a recipe has at most 5 labels"));

        const QDir base = QFileInfo(r.path).absoluteDir();
        QSet<int> slotsNamed;
        int index = 0;
        for (const toml::node& node : *list) {
            ++index;
            const toml::table* table = node.as_table();
            if (!table)
                refuse(node.source(), QStringLiteral("label %1 must be a [[label]] table").arg(index));
            r.labels << label(*table, base, index, slotsNamed);
        }
        if (const toml::node* serial = root.get("serial")) {
            const toml::table* table = serial->as_table();
            if (!table)
                refuse(serial->source(), QStringLiteral("serial must be a [serial] table"));
            r.serial = this->serial(*table);
        }
        return r;
    }

private:
    QString path_;
};

}  // namespace

Recipe loadRecipe(const QString& path)
{
    return Reader(path).read();
}
