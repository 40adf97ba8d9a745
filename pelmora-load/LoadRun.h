#pragma once
// Every device's load at once, each on its own thread with its own port; the
// calling thread reports and, at the end, records. One device failing never
// stops another.

#include "DeviceLoad.h"
#include "LoadRecord.h"
#include "Report.h"

#include <QList>

// The run's exit status: the device's own for one device; for several, 0
// when all loaded, else 1; 128 + the signal once a stop signal came. The
// record gets the run's begun line first and each device's line at its end.
int runLoads(const QList<LoadJob>& jobs, Report& report, LoadRecord* record);
