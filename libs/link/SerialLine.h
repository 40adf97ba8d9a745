#pragma once
// One opened serial line, and the way a port number becomes one. MSComm
// talks only to these, so tests can put a recording line in place of the
// real port; production opens QSerialPort (QtSerialLine.h).

#include "LineSettings.h"
#include "Wait.h"

#include <QByteArray>
#include <functional>
#include <memory>
#include <optional>

// The modem status lines a fixture may wire its unit's presence to.
enum class ModemLine { Dsr, Cts, Dcd, Ri };

class SerialLine {
public:
    virtual ~SerialLine() = default;
    // Hands every byte to the operating system before returning, or throws a
    // numbered error (the line failed or vanished).
    virtual void write(const QByteArray& bytes) = 0;
    // Whatever has arrived and was not read yet; never waits.
    virtual QByteArray readAvailable() = 0;
    // Waits until written bytes have left the machine, at most maxSeconds.
    virtual void drain(double maxSeconds) = 0;
    // The same, letting `between` run every few milliseconds meanwhile.
    virtual void drain(double maxSeconds, const WaitServe& between)
    {
        (void)between;
        drain(maxSeconds);
    }
    // Bytes written but still queued for the line, as far as the system
    // knows; -1 when it cannot tell.
    virtual qint64 outputQueued() = 0;
    // Drops what is still queued for the line.
    virtual void discardOutput() {}
    // Whether a modem status line is asserted; nullopt when the line cannot tell.
    virtual std::optional<bool> modemLineAsserted(ModemLine) { return std::nullopt; }
};

// Opens port number n (1 to 10) with the given settings or throws a numbered
// error: 8002 no device behind the number, 8005 held elsewhere or access denied.
using LineOpener = std::function<std::unique_ptr<SerialLine>(short port, const LineSettings& settings)>;
