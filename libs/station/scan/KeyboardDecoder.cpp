#include "KeyboardDecoder.h"

#include <libevdev/libevdev.h>

namespace {

struct UsKey {
    unsigned code;
    char plain, shifted;
};

// The US layout; the keypad with num lock on, as scanners send it.
constexpr UsKey kUsKeys[] = {
    {KEY_1, '1', '!'}, {KEY_2, '2', '@'}, {KEY_3, '3', '#'}, {KEY_4, '4', '$'}, {KEY_5, '5', '%'},
    {KEY_6, '6', '^'}, {KEY_7, '7', '&'}, {KEY_8, '8', '*'}, {KEY_9, '9', '('}, {KEY_0, '0', ')'},
    {KEY_MINUS, '-', '_'}, {KEY_EQUAL, '=', '+'},
    {KEY_Q, 'q', 'Q'}, {KEY_W, 'w', 'W'}, {KEY_E, 'e', 'E'}, {KEY_R, 'r', 'R'}, {KEY_T, 't', 'T'},
    {KEY_Y, 'y', 'Y'}, {KEY_U, 'u', 'U'}, {KEY_I, 'i', 'I'}, {KEY_O, 'o', 'O'}, {KEY_P, 'p', 'P'},
    {KEY_LEFTBRACE, '[', '{'}, {KEY_RIGHTBRACE, ']', '}'},
    {KEY_A, 'a', 'A'}, {KEY_S, 's', 'S'}, {KEY_D, 'd', 'D'}, {KEY_F, 'f', 'F'}, {KEY_G, 'g', 'G'},
    {KEY_H, 'h', 'H'}, {KEY_J, 'j', 'J'}, {KEY_K, 'k', 'K'}, {KEY_L, 'l', 'L'},
    {KEY_SEMICOLON, ';', ':'}, {KEY_APOSTROPHE, '\'', '"'}, {KEY_GRAVE, '`', '~'}, {KEY_BACKSLASH, '\\', '|'},
    {KEY_102ND, '\\', '|'},
    {KEY_Z, 'z', 'Z'}, {KEY_X, 'x', 'X'}, {KEY_C, 'c', 'C'}, {KEY_V, 'v', 'V'}, {KEY_B, 'b', 'B'},
    {KEY_N, 'n', 'N'}, {KEY_M, 'm', 'M'}, {KEY_COMMA, ',', '<'}, {KEY_DOT, '.', '>'}, {KEY_SLASH, '/', '?'},
    {KEY_SPACE, ' ', ' '},
    {KEY_KP0, '0', '0'}, {KEY_KP1, '1', '1'}, {KEY_KP2, '2', '2'}, {KEY_KP3, '3', '3'}, {KEY_KP4, '4', '4'},
    {KEY_KP5, '5', '5'}, {KEY_KP6, '6', '6'}, {KEY_KP7, '7', '7'}, {KEY_KP8, '8', '8'}, {KEY_KP9, '9', '9'},
    {KEY_KPMINUS, '-', '-'}, {KEY_KPPLUS, '+', '+'}, {KEY_KPASTERISK, '*', '*'}, {KEY_KPSLASH, '/', '/'},
    {KEY_KPDOT, '.', '.'},
};

const UsKey* usKey(unsigned code)
{
    for (const UsKey& k : kUsKeys)
        if (k.code == code)
            return &k;
    return nullptr;
}

int keypadDigit(unsigned code)
{
    static constexpr unsigned digits[] = {KEY_KP0, KEY_KP1, KEY_KP2, KEY_KP3, KEY_KP4,
                                          KEY_KP5, KEY_KP6, KEY_KP7, KEY_KP8, KEY_KP9};
    for (int d = 0; d < 10; ++d)
        if (digits[d] == code)
            return d;
    return -1;
}

QString keyName(unsigned code)
{
    const char* name = libevdev_event_code_get_name(EV_KEY, code);
    return name ? QString::fromLatin1(name) : QStringLiteral("key %1").arg(code);
}

double seconds(const input_event& e)
{
    return double(e.input_event_sec) + double(e.input_event_usec) / 1e6;
}

}  // namespace

bool KeyboardDecoder::modifier(unsigned code, bool down)
{
    switch (code) {
    case KEY_LEFTSHIFT: leftShift_ = down; return true;
    case KEY_RIGHTSHIFT: rightShift_ = down; return true;
    case KEY_LEFTCTRL: leftCtrl_ = down; return true;
    case KEY_RIGHTCTRL: rightCtrl_ = down; return true;
    case KEY_LEFTALT: leftAlt_ = down; return true;
    case KEY_RIGHTALT: rightAlt_ = down; return true;
    default: return false;
    }
}

void KeyboardDecoder::modifierState(unsigned code, bool down)
{
    modifier(code, down);
}

std::optional<ScannedLine> KeyboardDecoder::cutShort(const QString& why)
{
    altCode_ = -1;
    if (text_.isEmpty())
        return std::nullopt;
    ScannedLine line{withoutSymbologyPrefix(std::exchange(text_, {})), QStringLiteral("a scan cut short by %1").arg(why)};
    overlong_ = false;
    return line;
}

std::optional<ScannedLine> KeyboardDecoder::lost()
{
    return cutShort(QStringLiteral("events the system lost"));
}

std::optional<ScannedLine> KeyboardDecoder::add(QChar c)
{
    if (text_.size() < kLongestScan)
        text_ += c;
    else
        overlong_ = true;
    return std::nullopt;
}

std::optional<ScannedLine> KeyboardDecoder::feed(const input_event& e)
{
    if (e.type != EV_KEY || e.value == 2)  // autorepeat is the kernel's, not the scanner's
        return std::nullopt;
    const bool down = e.value == 1;
    const bool altWasHeld = leftAlt_ || rightAlt_;
    if (modifier(e.code, down)) {
        if (altWasHeld && !(leftAlt_ || rightAlt_) && altCode_ >= 0) {
            const int code = std::exchange(altCode_, -1);
            // Above 127 the character depends on a Windows code page: none is guessed.
            return add(code > 0 && code < 128 ? QChar(code) : QChar(QChar::ReplacementCharacter));
        }
        return std::nullopt;
    }
    if (!down || e.code == KEY_CAPSLOCK || e.code == KEY_NUMLOCK || e.code == KEY_SCROLLLOCK)
        return std::nullopt;

    const double now = seconds(e);
    std::optional<ScannedLine> dropped;
    if ((!text_.isEmpty() || altCode_ >= 0) && now - lastKey_ > kScanKeyGap)
        dropped = cutShort(QStringLiteral("a pause of %1 s").arg(now - lastKey_, 0, 'f', 1));
    lastKey_ = now;

    if (e.code == KEY_ENTER || e.code == KEY_KPENTER) {
        if (dropped || text_.isEmpty())
            return dropped;
        altCode_ = -1;
        ScannedLine line{withoutSymbologyPrefix(std::exchange(text_, {})), {}};
        if (std::exchange(overlong_, false))
            line.problem = QStringLiteral("a scan longer than %1 characters").arg(kLongestScan);
        return line;
    }
    std::optional<ScannedLine> result = dropped;
    auto interrupted = [&]() {
        auto cut = cutShort(keyName(e.code));
        return result ? result : cut;
    };
    if (leftAlt_ || rightAlt_) {
        const int digit = keypadDigit(e.code);
        if (digit < 0)
            return interrupted();
        altCode_ = altCode_ < 0 ? digit : std::min(altCode_ * 10 + digit, 1000);
        return result;
    }
    const UsKey* key = usKey(e.code);
    if (!key)
        return interrupted();
    const char c = (leftShift_ || rightShift_) ? key->shifted : key->plain;
    if (leftCtrl_ || rightCtrl_) {
        const char upper = (c >= 'a' && c <= 'z') ? char(c - 32) : c;
        if (upper < '@' || upper > '_')
            return interrupted();
        add(QChar(upper - '@'));
        return result;
    }
    add(QChar::fromLatin1(c));
    return result;
}
