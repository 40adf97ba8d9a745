#pragma once
// The machine a station's ledger belongs to: systemd's machine id, made once
// per installation. A copied disk image or a ledger copied to another bench
// PC carries the id of the machine it came from.

#include <QString>

namespace Ledger {

// The id in FILE (first line, trimmed); empty when it cannot be read.
QString machineIdFrom(const QString& file);
// This machine's id, from /etc/machine-id.
QString thisMachine();

}  // namespace Ledger
