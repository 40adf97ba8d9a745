#pragma once
// What the ledger's code throws.

#include <stdexcept>

namespace Ledger {

struct LedgerError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The central ledger holds, where this station's record belongs, something
// other than what the station wrote (a restored or cloned station ledger, a
// row planted or changed): sending again cannot mend it.
struct ChainConflict : LedgerError {
    using LedgerError::LedgerError;
};

// Another running station forwards under this station's identity: a copy of
// its ledger.
struct IdentityInUse : ChainConflict {
    using ChainConflict::ChainConflict;
};

}  // namespace Ledger

namespace Ledger {

// A ledger's tables are of another version than this program writes: newer
// (written by a newer Pelmora) or older (waiting for its owner's upgrade).
struct SchemaMismatch : LedgerError {
    using LedgerError::LedgerError;
};

// A step applied to a ledger differs from this program's step of that number.
struct SchemaChanged : SchemaMismatch {
    using SchemaMismatch::SchemaMismatch;
};

// The ledger was made on (or last adopted by) another machine.
struct ForeignMachine : LedgerError {
    using LedgerError::LedgerError;
};

}  // namespace Ledger
