#pragma once
// Sends one scanner's scans to the fixtures it serves. A scanner of one
// fixture gives it every scan. A scanner of several needs to be told where
// the unit goes: the fixture's own barcode, FIXTURE:<name>, is scanned first,
// and the next scan goes to that fixture; a unit scanned without one goes to
// none and is refused on all of them, since any guess could bind a serial to
// the wrong unit.

#include "ScanInbox.h"

#include <QList>
#include <QString>

inline constexpr char kFixtureBarcodePrefix[] = "FIXTURE:";

class ScanRouter {
public:
    struct Served {
        QString fixture;  // its name, as in FIXTURE:<name>
        ScanInbox* inbox = nullptr;
    };
    explicit ScanRouter(QList<Served> served) : served_(std::move(served)) {}

    // A whole scan (the symbology prefix already off), or, with `problem`, a
    // scan that was cut short or garbled: shown, never taken for a serial.
    void deliver(const QString& text, double at, const QString& problem = {});
    void setStatus(ScannerState state, const QString& reason = {});

    const QList<Served>& served() const { return served_; }

private:
    void refuseOnAll(const QString& text, double at, const QString& why);

    QList<Served> served_;
    int chosen_ = -1;  // the fixture whose barcode came last, until the unit's scan
};
