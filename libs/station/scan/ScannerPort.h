#pragma once
// One open scanner, of either kind: a serial (CDC) scanner's terminal or a
// keyboard scanner's input event node. Which it is, the node says.

#include "KeyboardDecoder.h"
#include "ScanText.h"
#include "link/LineSettings.h"

#include <QString>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

// A scanner that cannot be opened, or is gone; the text says why.
struct ScannerLost : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class ScannerPort {
public:
    virtual ~ScannerPort() = default;
    // What to poll for input; -1 when there is nothing to poll (a seam's).
    virtual int fd() const = 0;
    // The scans ended by what is there to read now; throws ScannerLost.
    virtual std::vector<ScannedLine> readScans() = 0;
};

// A keyboard scanner's events, as libevdev reads them: the seam recorded
// streams come through in tests.
class KeyEventSource {
public:
    enum class Read {
        Event,    // a new event
        Dropped,  // the kernel lost events; resynchronising events follow
        Synced,   // one of those: the state a key is in now
        Empty,    // nothing more for now
    };
    virtual ~KeyEventSource() = default;
    virtual int fd() const = 0;
    // Takes the device for this program alone, or throws ScannerLost.
    virtual void grab() = 0;
    // Throws ScannerLost when the device has gone.
    virtual Read next(input_event& event) = 0;
};

class KeyboardScannerPort final : public ScannerPort {
public:
    // Grabs the device: no key it sends reaches the desktop.
    explicit KeyboardScannerPort(std::unique_ptr<KeyEventSource> source);
    int fd() const override { return source_->fd(); }
    std::vector<ScannedLine> readScans() override;

private:
    std::unique_ptr<KeyEventSource> source_;
    KeyboardDecoder decoder_;
};

// The terminal or the input device at `path`, opened and taken: a terminal
// made raw with its speed and framing left as they are unless `settings`
// are given, an input device grabbed with its caps lock light put out.
// Throws ScannerLost with why.
std::unique_ptr<ScannerPort> openScannerPort(const QString& path, const std::optional<LineSettings>& settings = std::nullopt);
