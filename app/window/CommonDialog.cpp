#include "CommonDialog.h"

#include "Seams.h"

#include <QRegularExpression>
#include <QStringList>

namespace {
const QString kAllFiles = QStringLiteral("All files (*)");

QString patternsOf(const QString& list)
{
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
    return list.split(separators, Qt::SkipEmptyParts).join(QLatin1Char(' '));
}
}  // namespace

CommonDialog::CommonDialog(QWidget* owner, std::shared_ptr<OperatorDialogs> dialogs, const QString& initialFilter,
                           const QString& dialogTitle)
    : Filter(initialFilter), DialogTitle(dialogTitle), owner_(owner), dialogs_(std::move(dialogs))
{
}

QString CommonDialog::presentedFilter(const QString& filter)
{
    QStringList choices;
    if (filter.contains(QLatin1Char('|'))) {
        const QStringList parts = filter.split(QLatin1Char('|'));
        for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
            const QString patterns = patternsOf(parts[i + 1]);
            if (!patterns.isEmpty())
                choices << QStringLiteral("%1 (%2)").arg(parts[i].trimmed(), patterns);
        }
    } else if (const QString patterns = patternsOf(filter); !patterns.isEmpty()) {
        choices << QStringLiteral("Label files (%1)").arg(patterns);
    }
    if (!choices.contains(kAllFiles))
        choices << kAllFiles;
    return choices.join(QStringLiteral(";;"));
}

bool CommonDialog::ShowOpen()
{
    const std::optional<QString> chosen = dialogs_->openFile(owner_, DialogTitle, presentedFilter(Filter), FileName);
    if (chosen)
        FileName = *chosen;
    return chosen.has_value();
}
