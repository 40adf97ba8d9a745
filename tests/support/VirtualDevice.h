#pragma once
// The window in virtual time: its seams over the virtual clock and line.

#include "FakeDialogs.h"
#include "Seams.h"
#include "VirtualLink.h"

#include <memory>

// Seams for a Form1 in virtual time: port 1 is the virtual device, every
// other number has no device behind it.
struct VirtualSeams {
    std::shared_ptr<Timeline> timeline = std::make_shared<Timeline>();
    std::shared_ptr<DeviceScript> script = std::make_shared<DeviceScript>();
    std::shared_ptr<FakeDialogs> dialogs = std::make_shared<FakeDialogs>();
    Seams seams();
};
