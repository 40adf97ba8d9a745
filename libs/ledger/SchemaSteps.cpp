#include "ledger/SchemaSteps.h"

#include "ledger/LedgerError.h"
#include "ledger/RecordText.h"

namespace Ledger {

QString SchemaStep::checksum() const
{
    return sha256Hex(statements.join(QLatin1Char('\n')).toUtf8());
}

std::vector<SchemaStep> stepsAfter(const std::vector<SchemaStep>& steps, int from)
{
    std::vector<SchemaStep> out;
    for (const SchemaStep& s : steps)
        if (s.version > from)
            out.push_back(s);
    return out;
}

void requireSameSteps(const QList<AppliedStep>& applied, const std::vector<SchemaStep>& steps, const QString& where)
{
    for (const AppliedStep& a : applied)
        for (const SchemaStep& s : steps)
            if (s.version == a.version && s.checksum() != a.checksum)
                throw SchemaChanged(QStringLiteral("%1: the schema step to version %2 applied there (checksum %3) "
                                                   "is not this Pelmora's step %2 (checksum %4); its tables are not "
                                                   "what this Pelmora would write, so nothing is changed")
                                        .arg(where)
                                        .arg(a.version)
                                        .arg(a.checksum.left(12), s.checksum().left(12))
                                        .toStdString());
}

}  // namespace Ledger
