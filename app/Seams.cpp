#include "Seams.h"

#include "link/QtSerialLine.h"

Seams Seams::production()
{
    Seams s;
    s.clock = makeSteadyClock();
    s.openLine = openQtSerialLine;
    s.dialogs = makeQtDialogs();
    return s;
}
