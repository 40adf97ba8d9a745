#pragma once
// One unit placed in a fixture, as the ledger keeps it.

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>

namespace Ledger {

struct LabelRecord {
    int slot = 0;
    QString file;
    QString sha256;
    qint64 size = 0;
    qint64 dataFramesSent = 0;
    bool fileFrameSent = false;
    bool releaseConfirmed = false;
    QString slotHolds;  // untouched|incomplete|written|loaded (unknown after a station was stopped)
    QString reason;     // a code of ReasonCode.h when this label ended the unit; empty otherwise
};

struct UnitRecord {
    QUuid id;
    // The station's id, as its ledger row says; not part of the record's
    // text (its chain link names the station).
    QString station;
    QString host;
    QString fixtureName, fixturePath, adapterIdentity;
    qint64 unitNumber = 0;
    QString recipeName, recipeSha256, toolVersion;
    QDateTime start, end;  // UTC; end invalid while open
    QString result;        // empty while open; pass|fail|interrupted
    QString why;
    QString serial;    // as scanned; empty when the fixture has no scanner
    QString reason;    // a code of ReasonCode.h beside why; empty on pass
    QString reloadOf;  // the id of the record this serial passed before, when the recipe allows it again
    QList<LabelRecord> labels;

    bool isOpen() const { return result.isEmpty(); }
};

}  // namespace Ledger
