#include "Device.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace rv7k {

Device::Device(const Options& options, JsonLog& log)
    : m_options(options)
    , m_log(log)
{
}

bool Device::isPlainName(std::string_view name)
{
    if (name.empty() || name.size() > 255 || name == "." || name.find("..") != std::string_view::npos)
        return false;
    for (const char c : name) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
            || c == '.' || c == '-' || c == '_';
        if (!plain)
            return false;
    }
    return true;
}

std::string Device::replyFor(Kind kind) const
{
    if (const auto it = m_options.replies.find(kind); it != m_options.replies.end())
        return it->second;
    switch (kind) {
    case Kind::Poll: return "S";
    case Kind::Name: return "D";
    case Kind::Length: return "U";
    case Kind::End: return "T";
    default: return {};
    }
}

void Device::resetUpload()
{
    m_slot.reset();
    m_announced.reset();
    m_bytes.clear();
}

std::string Device::handle(const Frame& frame, Instant t)
{
    if (!frame.ok)
        return {};
    std::string reply = replyFor(frame.kind);
    switch (frame.kind) {
    case Kind::Name: {
        const std::string name = frame.payload.substr(1, frame.payload.size() - 2);
        resetUpload();
        if (!isPlainName(name)) {
            m_log.write(JsonLine(t).add("event", "refused-name").add("name", name));
            reply.clear();
            break;
        }
        m_slot = name;
        break;
    }
    case Kind::Length:
        // A repeated length starts the stream over; nothing sent before it is data.
        m_bytes.clear();
        m_announced = std::stoll(frame.payload.substr(1, frame.payload.size() - 2));
        break;
    case Kind::Data:
        m_bytes.push_back(static_cast<char>(std::stoi(frame.payload)));
        ++m_dataFrames;
        break;
    case Kind::File:
        finishFile(t);
        break;
    case Kind::End:
        ++m_ends;
        if (m_options.noRelease || (m_options.releaseAfter > 0 && m_ends < m_options.releaseAfter))
            reply.clear();
        break;
    case Kind::Poll:
    case Kind::Unknown:
        break;
    }
    if (m_options.silent)
        reply.clear();
    return reply;
}

void Device::finishFile(Instant t)
{
    JsonLine line(t);
    const auto bytes = static_cast<long long>(m_bytes.size());
    if (!m_slot) {
        line.add("event", "file-not-written").add("reason", "no slot file name chosen").add("bytes", bytes);
    } else if (m_options.outDir.empty()) {
        line.add("event", "file-not-written").add("reason", "no --out").add("name", *m_slot).add("bytes", bytes);
    } else {
        std::string path;
        std::string error;
        if (writeFile(*m_slot, path, error))
            line.add("event", "file-written").add("path", path).add("bytes", bytes);
        else
            line.add("event", "file-error").add("path", path).add("error", error).add("bytes", bytes);
    }
    if (m_announced)
        line.add("announced", *m_announced);
    m_log.write(line);
    // The slot is used up: a second "#File#" without a new name must not
    // overwrite the file just written.
    resetUpload();
}

bool Device::writeFile(const std::string& name, std::string& path, std::string& error) const
{
    path = m_options.outDir + "/" + name;
    const std::string tmp = m_options.outDir + "/." + name + ".part-" + std::to_string(::getpid());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < m_bytes.size()) {
        const ssize_t n = ::write(fd, m_bytes.data() + done, m_bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = std::strerror(errno);
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 || ::rename(tmp.c_str(), path.c_str()) != 0) {
        error = std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

} // namespace rv7k
