#include "Seams.h"

#include "link/QtSerialLine.h"

Seams Seams::production(PortDirectory::Lister systemPorts)
{
    Seams s;
    s.clock = makeSteadyClock();
    s.ports = std::make_shared<PortBindings>(std::move(systemPorts));
    s.openLine = qtSerialLineOpener(s.ports);
    s.dialogs = makeQtDialogs();
    return s;
}
