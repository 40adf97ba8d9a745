#pragma once
// A keyboard scanner's key events made into scans, by a fixed US layout
// whatever the desktop's: the scanner types what its US table says, and the
// desktop never sees those keys (the device is grabbed).
//
// Enter (or keypad Enter) ends a scan. Caps lock is taken as off: the key is
// ignored. Control characters come as scanners send them in keyboard mode:
// Ctrl with the key of the character 64 above (Ctrl+] is GS, ASCII 29), or
// Alt held while the code is typed on the keypad (Alt+029, Alt+0029). A scan
// is cut short (and shown as such, never taken for a serial) by a key that
// types nothing (Esc, Tab, an arrow, a function key), by events the kernel
// lost, or by a pause longer than kScanKeyGap between two of its keys.

#include "ScanText.h"

#include <linux/input.h>
#include <optional>

// Scanners type a whole code within milliseconds per key; a person or a
// scanner unplugged mid-code leaves a pause.
inline constexpr double kScanKeyGap = 1.0;

class KeyboardDecoder {
public:
    // The scan this event ends, if any.
    std::optional<ScannedLine> feed(const input_event& event);
    // The kernel dropped events: what was being typed cannot be trusted.
    std::optional<ScannedLine> lost();
    // Resynchronising after a loss: where a modifier key is now.
    void modifierState(unsigned code, bool down);

private:
    std::optional<ScannedLine> cutShort(const QString& why);
    std::optional<ScannedLine> add(QChar c);
    bool modifier(unsigned code, bool down);

    QString text_;
    bool overlong_ = false;
    bool leftShift_ = false, rightShift_ = false, leftCtrl_ = false, rightCtrl_ = false, leftAlt_ = false,
         rightAlt_ = false;
    int altCode_ = -1;  // the keypad digits typed with Alt held, -1: none
    double lastKey_ = 0;
};
