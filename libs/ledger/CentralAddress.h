#pragma once
// Where the central ledger is: a PostgreSQL connection URI or keyword/value
// string, read by libpq's own parser, turned into what Qt's PostgreSQL driver
// passes on. A password is refused here: it comes from ~/.pgpass, PGPASSFILE or a
// service file, never from a command line.

#include <QString>

namespace Ledger {

struct CentralAddress {
    QString conninfo;  // keyword='value' pairs for libpq
    QString shown;     // the address without anything secret, for messages
};

// Throws LedgerError naming what is wrong with the text.
CentralAddress centralAddress(const QString& uriOrConninfo);

}  // namespace Ledger
