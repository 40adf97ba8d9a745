#pragma once

#include "Clock.h"

#include <string>
#include <string_view>

namespace rv7k {

// One JSON object, built field by field in the order given.
class JsonLine {
public:
    explicit JsonLine(Instant t);

    JsonLine& add(std::string_view key, std::string_view text);
    JsonLine& add(std::string_view key, const char* text) { return add(key, std::string_view(text)); }
    JsonLine& add(std::string_view key, long long number);
    JsonLine& add(std::string_view key, bool flag);

    std::string finish() const { return m_text + "}\n"; }

private:
    void key(std::string_view k);
    std::string m_text;
};

// Any byte string as a JSON string literal; bytes outside printable ASCII
// become \u00XX so the log stays one line of plain ASCII.
std::string jsonString(std::string_view bytes);

// A JSON-lines log. Each line goes out in one write so a reader tailing the
// file while the emulator runs never sees half a line it would have to keep.
class JsonLog {
public:
    JsonLog() = default;
    JsonLog(const JsonLog&) = delete;
    JsonLog& operator=(const JsonLog&) = delete;
    ~JsonLog();

    bool open(const std::string& path, std::string& error);
    void write(const JsonLine& line);
    void close();

private:
    int m_fd = -1;
};

} // namespace rv7k
