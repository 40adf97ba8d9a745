#pragma once
// `pelmora-station ports`: every serial port with its USB path, vendor,
// product and serial number, and a udev rule for each adapter that names it
// by the USB socket it is plugged into, keeps ModemManager off it and gives
// it to dialout. Opens no port.

#include "link/PortDirectory.h"

#include <QString>

// The rule for one adapter, named /dev/<link>; empty where the system knows
// no USB path for it.
QString fixtureRule(const PortDirectory::Device& device, const QString& link);
// The listing and the rules, as printed.
QString portsReport(const QList<PortDirectory::Device>& devices);
// Runs the command; returns the exit status.
int runPortsCommand();
