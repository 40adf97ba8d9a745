#pragma once
// `pelmora-station ports`: every serial port with its USB path, vendor,
// product and serial number, and a udev rule for each adapter that names it
// by the USB socket it is plugged into, keeps ModemManager off it and gives
// it to dialout. Opens no port.

#include "link/PortDirectory.h"

#include <QString>

// The rule for one port, named /dev/<link>: its adapter's USB interface, and
// the port's number where several ports share that interface; empty where
// the system knows no USB path for it.
QString fixtureRule(const PortDirectory::Device& device, const QString& link);
// The link of the index-th port named: rv7k-fixture-a ... -z, -aa, -ab ...
QString fixtureLinkName(int index);
// The listing and the rules, as printed.
QString portsReport(const QList<PortDirectory::Device>& devices);
// Runs the command; returns the exit status.
int runPortsCommand();
