#pragma once
// Which device each --port means, decided before any port is opened: a
// device path, a port number as the window gives it, or usb:VID:PID[:SERIAL].
// A selector that fits no device, or several, is refused; the refusal names
// a selector unique to each candidate.

#include "link/PortDirectory.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <stdexcept>

struct ChosenPort {
    QString selector;  // as given
    QString path;
    PortDirectory::Identity identity;
};

struct SelectorRefused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Throws SelectorRefused; two selectors that name one device are refused too.
QList<ChosenPort> choosePorts(const QStringList& selectors,
                              const PortDirectory::Lister& systemPorts = PortDirectory::systemPorts);

// "usb:0403:6001:A1B2C3" ("usb:0403:6001" without a serial number); empty
// for a port that is no USB adapter.
QString usbSelector(const PortDirectory::Identity& identity);
// "FT232R USB UART, usb:0403:6001:A1B2C3, socket 1-1.2:1.0" as far as known.
QString describeAdapter(const PortDirectory::Identity& identity);

// Number, path and adapter of every port, plain or as JSON Lines; opens none.
QString portListing(bool json, const PortDirectory::Lister& systemPorts = PortDirectory::systemPorts);
