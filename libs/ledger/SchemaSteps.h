#pragma once
// A store's tables as a numbered list of steps: step N takes version N-1 to
// version N. A ledger records each step it applied with the step's checksum,
// so a step changed after it was applied somewhere is found, not run past.

#include <QList>
#include <QString>
#include <QStringList>
#include <vector>

namespace Ledger {

struct SchemaStep {
    int version = 0;         // the version this step makes
    QStringList statements;  // run in order, in one transaction
    QString checksum() const;  // SHA-256 of the statements, one per line
};

struct AppliedStep {
    int version = 0;
    QString checksum;
};

// The steps after `from`, up to the last one, in order.
std::vector<SchemaStep> stepsAfter(const std::vector<SchemaStep>& steps, int from);
// Throws SchemaChanged naming the first applied step whose checksum is not
// the one this program has for that version.
void requireSameSteps(const QList<AppliedStep>& applied, const std::vector<SchemaStep>& steps, const QString& where);

}  // namespace Ledger
