#pragma once
// Asks the central ledger whether a serial passed a recipe at any station,
// for a fixture about to load a unit: the answer comes within a bound (1 s)
// or not at all, so loading never waits on the floor's database longer.
// The connection lives on a thread of its own and is kept between
// questions; a question not answered in time is answered "unknown".

#include "ledger/UnitRecord.h"

#include <QString>
#include <chrono>
#include <memory>
#include <optional>

namespace Ledger {

class CentralLookup {
public:
    explicit CentralLookup(const QString& centralAddress);  // throws LedgerError for a malformed address
    ~CentralLookup();  // never waits on the network
    CentralLookup(const CentralLookup&) = delete;
    CentralLookup& operator=(const CentralLookup&) = delete;

    struct Answer {
        bool answered = false;                // false: the central ledger said nothing in time
        std::optional<UnitRecord> lastPass;   // when answered: the latest pass, if any
        QString problem;                      // why it did not answer, when known
    };
    // Safe from several threads at once.
    Answer lastPass(const QString& serial, const QString& recipeSha256,
                    std::chrono::milliseconds within = std::chrono::seconds(1));

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace Ledger
