#pragma once
// The station's scanners: one reader per scanner named by the fixtures, and
// one inbox per fixture with a scanner. A scanner named by several fixtures
// serves them all, each fixture's own barcode scanned before its unit.

#include "station/FixtureOption.h"
#include "ScanInbox.h"
#include "ScannerReader.h"

#include <QList>
#include <deque>
#include <memory>
#include <vector>

class Scanners {
public:
    // Without `open`, each scanner is opened by its path with its fixtures' settings.
    Scanners(const QList<FixtureOption>& fixtures, Clock& clock, ScannerReader::Opener open = {});

    // The fixture's inbox (by its index among the fixtures); null: it has no scanner.
    ScanInbox* inbox(int fixture);
    // Opens every scanner; one that cannot be opened leaves its fixtures'
    // inboxes halted with the reason. Returns how many were opened.
    int start();
    void stop();

private:
    std::deque<ScanInbox> inboxes_;
    std::vector<ScanInbox*> byFixture_;
    std::vector<std::unique_ptr<ScannerReader>> readers_;
};
