#include "Device.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace rv7k {

Device::Device(const Options& options, JsonLog& log)
    : m_options(options)
    , m_log(log)
    , m_outDir(options.outDir)
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
            m_log.write(t, {{"event", "refused-name"}, {"name", bytesText(name)}});
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
        if (!m_options.refuseLengthIn.empty() && m_slot == m_options.refuseLengthIn)
            reply.clear();
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
    QJsonObject line{{"bytes", static_cast<qint64>(m_bytes.size())}};
    if (!m_slot) {
        line.insert("event", "file-not-written");
        line.insert("reason", "no slot file name chosen");
    } else if (m_outDir.isEmpty()) {
        line.insert("event", "file-not-written");
        line.insert("reason", "no --out");
        line.insert("name", bytesText(*m_slot));
    } else {
        std::string path;
        std::string error;
        const bool written = writeFile(*m_slot, path, error);
        line.insert("event", written ? "file-written" : "file-error");
        line.insert("path", QString::fromLocal8Bit(path));
        if (!written)
            line.insert("error", QString::fromLocal8Bit(error));
    }
    if (m_announced)
        line.insert("announced", *m_announced);
    m_log.write(t, line);
    // The slot is used up: a second "#File#" without a new name must not
    // overwrite the file just written.
    resetUpload();
}

bool Device::writeFile(const std::string& name, std::string& path, std::string& error) const
{
    const std::string dir = QFile::encodeName(m_outDir).toStdString();
    path = dir + "/" + name;
    const std::string tmp = dir + "/." + name + ".part-" + std::to_string(::getpid());
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
