#include "VirtualDevice.h"

#include "link/Errors.h"

Seams VirtualSeams::seams()
{
    Seams s;
    s.clock = std::make_shared<VirtualClock>(timeline);
    s.dialogs = dialogs;
    // Port 1, the virtual device, is the one serial device there is.
    s.ports = std::make_shared<PortBindings>(
        [] { return QList<PortDirectory::Device>{{QStringLiteral("/virtual/rv7k"), {}}}; });
    auto timelineRef = timeline;
    auto scriptRef = script;
    s.openLine = [timelineRef, scriptRef](short port, const LineSettings&) -> std::unique_ptr<SerialLine> {
        if (port != 1)
            throw PelmoraError(ErrorNumber::InvalidPortNumber, QStringLiteral("port %1").arg(port));
        return std::make_unique<VirtualLine>(timelineRef, scriptRef);
    };
    return s;
}
