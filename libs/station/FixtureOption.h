#pragma once
// A fixture as the station is told of it: what it is called, where its line
// is, and how it tells that a unit is in it.

#include "link/SerialLine.h"

#include <QString>
#include <optional>

struct FixtureOption {
    QString name;      // as shown and recorded; the selector when none is given
    QString selector;  // a device path, a port number 1 to 10, usb:VID:PID[:SERIAL]
    // The unit is there while this modem status line is asserted; without
    // one, while it answers the poll.
    std::optional<ModemLine> presence;
    // The barcode scanner units are scanned with (a terminal or an input
    // event node); empty: none, units are loaded unscanned.
    QString scanner{};
    // A serial scanner's line settings ("9600,n,8,1"); empty: as the device has them.
    QString scannerSettings{};
};

// "dsr", "cts", "dcd", "ri"
const char* modemLineName(ModemLine line);
std::optional<ModemLine> modemLineNamed(const QString& name);
