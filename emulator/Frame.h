#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rv7k {

enum class Kind { Poll, Name, Length, Data, File, End, Unknown };

const char* kindName(Kind kind);
std::optional<Kind> kindFromName(std::string_view name);

// XOR of the payload's bytes (empty = 0), lifted by 16 when below 16.
unsigned char checkByte(std::string_view payload);

// What a payload is, judged by its text alone. Numbers must be written the way
// the program writes them (decimal, no sign, no blanks, no leading zeros), so a
// formatting fault on the other side shows up as "unknown" instead of slipping by.
Kind classify(std::string_view payload);

struct Frame {
    std::string payload;  // the bytes before the check byte
    bool ok = false;      // check byte matched and the frame had one
    Kind kind = Kind::Unknown;
    std::string error;    // why it is not ok
};

// Splits the byte stream at carriage returns. Bytes without a carriage return
// are kept for the next feed, up to a bound: a line that never ends is cut off
// and reported as one malformed frame instead of growing without limit.
class FrameSplitter {
public:
    static constexpr std::size_t maxFrame = 4096;

    void feed(const char* data, std::size_t size, std::vector<Frame>& out);

private:
    std::string m_pending;
};

} // namespace rv7k
