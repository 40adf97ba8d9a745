#include "JsonLog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace rv7k {

std::string jsonString(std::string_view bytes)
{
    std::string out = "\"";
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(ch);
        } else if (c >= 0x20 && c < 0x7F) {
            out.push_back(ch);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04X", c);
            out += buf;
        }
    }
    out.push_back('"');
    return out;
}

JsonLine::JsonLine(Instant t)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "{\"t\":%lld.%09ld", t.sec, t.nsec);
    m_text = buf;
}

void JsonLine::key(std::string_view k)
{
    m_text += ',';
    m_text += jsonString(k);
    m_text += ':';
}

JsonLine& JsonLine::add(std::string_view k, std::string_view text)
{
    key(k);
    m_text += jsonString(text);
    return *this;
}

JsonLine& JsonLine::add(std::string_view k, long long number)
{
    key(k);
    m_text += std::to_string(number);
    return *this;
}

JsonLine& JsonLine::add(std::string_view k, bool flag)
{
    key(k);
    m_text += flag ? "true" : "false";
    return *this;
}

JsonLog::~JsonLog()
{
    close();
}

bool JsonLog::open(const std::string& path, std::string& error)
{
    close();
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        error = "cannot open log " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void JsonLog::write(const JsonLine& line)
{
    if (m_fd < 0)
        return;
    const std::string text = line.finish();
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(m_fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // A log that cannot be written must not stop the device.
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

void JsonLog::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

} // namespace rv7k
