#pragma once
// The station's configuration file, for a station that runs as a service:
//
//   station = "bench-1"
//   recipe = "line7.toml"                  # relative to this file
//   ledger = "/var/lib/pelmora-station/ledger.sqlite"
//   central = "host=ledger.plant dbname=pelmora user=bench1"
//   listen = "127.0.0.1:8470"
//   page_name = ["bench-1", "bench-1.plant"]  # or one name
//   gone_after = 2
//   silence = 2.5
//   [[fixture]]
//   name = "A"
//   port = "/dev/rv7k-fixture-a"           # a path relative to this file, 1 to 10, or usb:...
//   presence = "dsr"                       # optional
//   scanner = "/dev/input/by-id/usb-...-event-kbd"   # optional; relative to this file
//   scanner_settings = "9600,n,8,1"        # optional, a serial scanner's line
//
// Every path is relative to this file's folder. Each key is read as its
// option is on the command line (OptionTable.h), refused in the same words
// after the file and line; unknown keys are refused with their line, as in
// the recipe.

#include "Options.h"

// Fills `options` from the file; what the command line gives afterwards
// overrides it. Throws UsageError naming the file and line.
void readStationConfig(const QString& path, StationOptions& options);
