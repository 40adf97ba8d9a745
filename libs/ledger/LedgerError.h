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
