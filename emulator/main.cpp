// rv7k-emulator: plays the RV7k device on a serial line for the tests, the
// benchmarks and ./run. See --help for the options.

#include "Clock.h"
#include "Device.h"
#include "Frame.h"
#include "JsonLog.h"
#include "Line.h"
#include "Options.h"
#include "Units.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace rv7k;

namespace {

int g_signalPipe[2] = {-1, -1};

extern "C" void onSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

bool installSignals()
{
    if (::pipe(g_signalPipe) != 0)
        return false;
    for (const int fd : g_signalPipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    if (::sigaction(SIGINT, &sa, nullptr) != 0 || ::sigaction(SIGTERM, &sa, nullptr) != 0)
        return false;
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

struct LateReply {
    Instant due;
    std::string text;
};

class Server {
public:
    Server(const Options& options, Line& line, JsonLog& log)
        : m_options(options)
        , m_line(line)
        , m_log(log)
        , m_device(std::make_unique<Device>(options, log))
        , m_units(options, now())
    {
    }

    // Serves until a signal, a hangup fault or a lost line. Returns the exit status.
    int run();

private:
    void frameArrived(const Frame& frame, Instant t);
    void send(const std::string& text);
    void flushOutput();
    void sendDueReplies();
    int pollTimeoutMs() const;
    // Units arriving and leaving; false when a line for a new unit cannot be made.
    bool changeUnits();
    void placeLink();

    // Replies the other end has not taken yet; bounded so a reader that never
    // reads cannot make us grow forever.
    static constexpr std::size_t maxPendingOutput = 1 << 16;

    const Options& m_options;
    Line& m_line;
    JsonLog& m_log;
    std::unique_ptr<Device> m_device;
    Units m_units;
    long m_pullCount = 0;
    FrameSplitter m_splitter;
    std::deque<LateReply> m_late;
    std::string m_output;
    bool m_hungUp = false;
};

void Server::send(const std::string& text)
{
    if (text.empty())
        return;
    if (m_output.size() + text.size() > maxPendingOutput) {
        m_log.write(now(),
                    {{"event", "reply-dropped"}, {"reply", bytesText(text)}, {"reason", "nobody reads the line"}});
        return;
    }
    m_output += text;
    flushOutput();
}

void Server::flushOutput()
{
    while (!m_output.empty()) {
        const ssize_t n = ::write(m_line.fd(), m_output.data(), m_output.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;  // EAGAIN: poll tells us when there is room; errors show on read
        }
        m_output.erase(0, static_cast<std::size_t>(n));
    }
}

void Server::placeLink()
{
    if (m_options.link.isEmpty())
        return;
    const QByteArray link = QFile::encodeName(m_options.link);
    ::unlink(link.constData());
    if (::symlink(m_line.path().c_str(), link.constData()) != 0)
        std::fprintf(stderr, "rv7k-emulator: cannot link %s: %s\n", link.constData(), std::strerror(errno));
}

bool Server::changeUnits()
{
    for (;;) {
        const Instant t = now();
        switch (m_units.take(t)) {
        case Units::Change::None: return true;
        case Units::Change::Arrive: {
            const long unit = m_units.present();
            m_device = std::make_unique<Device>(m_options, m_log);
            m_splitter = FrameSplitter();
            if (!m_options.outDir.isEmpty()) {
                const QString dir = QDir(m_options.outDir).filePath(QStringLiteral("unit-%1").arg(unit));
                QDir().mkpath(dir);
                m_device->setOutDir(dir);
            }
            if (m_options.vanish) {
                std::string error;
                if (!m_line.openPty(error)) {
                    std::fprintf(stderr, "rv7k-emulator: %s\n", error.c_str());
                    return false;
                }
                placeLink();
            }
            m_log.write(t, {{"event", "unit-arrived"}, {"unit", static_cast<qint64>(unit)},
                            {"line", QString::fromLocal8Bit(m_line.path())}});
            break;
        }
        case Units::Change::Leave:
            m_log.write(t, {{"event", "unit-left"}, {"unit", static_cast<qint64>(m_units.last())}});
            m_late.clear();
            m_output.clear();
            if (m_options.vanish) {
                if (!m_options.link.isEmpty())
                    ::unlink(QFile::encodeName(m_options.link).constData());
                m_line.close();
            }
            break;
        }
    }
}

void Server::frameArrived(const Frame& frame, Instant t)
{
    // The first unit taken out just before this frame reaches it.
    if (!m_options.pullOn.empty() && m_units.present() == m_options.pullUnit
        && (m_options.pullOn == "data" ? frame.kind == Kind::Data : frame.payload == m_options.pullOn)
        && ++m_pullCount == m_options.pullOnCount) {
        m_units.pull();
        changeUnits();
    }
    // An empty fixture hears the frames and answers none.
    const bool empty = m_units.playing() && m_units.present() == 0;
    if (!empty && frame.ok && frame.kind != Kind::Poll)
        m_units.activity(t);
    if (!empty && frame.ok && frame.kind == Kind::End)
        m_units.released(t);
    const std::string reply = empty ? std::string() : m_device->handle(frame, t);
    QJsonObject line{{"payload", bytesText(frame.payload)}, {"ok", frame.ok}, {"kind", kindName(frame.kind)},
                     {"reply", bytesText(reply)}};
    if (m_units.playing())
        line.insert("unit", static_cast<qint64>(m_units.present()));
    if (!frame.ok)
        line.insert("error", QString::fromStdString(frame.error));
    // The reply is on the line before its log line, so a reader who has seen
    // the log line and finds no reply knows none is coming (unless it is late).
    if (m_options.late > 0.0 && !reply.empty())
        m_late.push_back(LateReply{t + std::llround(m_options.late * 1e9), reply});
    else
        send(reply);
    m_log.write(t, line);
    if (frame.ok && frame.kind == Kind::Data && m_options.hangupAfter > 0
        && m_device->dataFrames() >= m_options.hangupAfter) {
        m_log.write(now(), {{"event", "hangup"}, {"data-frames", static_cast<qint64>(m_device->dataFrames())}});
        m_line.hangUp();
        m_hungUp = true;
    }
}

void Server::sendDueReplies()
{
    const Instant t = now();
    while (!m_late.empty() && m_late.front().due <= t) {
        const std::string text = m_late.front().text;
        m_late.pop_front();
        // Read before the write: whoever reads the reply reads the clock later.
        const Instant sentAt = now();
        send(text);
        m_log.write(sentAt, {{"event", "reply-sent"}, {"reply", bytesText(text)}});
    }
}

int Server::pollTimeoutMs() const
{
    Instant due = m_late.empty() ? -1 : m_late.front().due;
    if (const Instant change = m_units.nextChange(); change >= 0 && (due < 0 || change < due))
        due = change;
    if (due < 0)
        return 1000;
    const Instant wait = due - now();
    return wait <= 0 ? 0 : static_cast<int>(std::min<Instant>((wait + 999'999) / 1'000'000, 1000));
}

int Server::run()
{
    std::vector<Frame> frames;
    char buffer[4096];
    for (;;) {
        if (!changeUnits())
            return 1;
        pollfd fds[2] = {};
        fds[0].fd = g_signalPipe[0];
        fds[0].events = POLLIN;
        fds[1].fd = m_line.fd();
        fds[1].events = static_cast<short>(POLLIN | (m_output.empty() ? 0 : POLLOUT));
        const int ready = ::poll(fds, 2, pollTimeoutMs());
        if (ready < 0 && errno != EINTR) {
            std::fprintf(stderr, "rv7k-emulator: poll: %s\n", std::strerror(errno));
            return 1;
        }
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            m_log.write(now(), {{"event", "stop"}, {"reason", "signal"}});
            return 0;
        }
        if (ready > 0 && fds[1].fd >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            for (;;) {
                const ssize_t n = ::read(m_line.fd(), buffer, sizeof buffer);
                if (n > 0) {
                    const Instant t = now();
                    frames.clear();
                    m_splitter.feed(buffer, static_cast<std::size_t>(n), frames);
                    for (const Frame& f : frames) {
                        frameArrived(f, t);
                        if (m_hungUp)
                            return 0;
                    }
                    continue;
                }
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                    break;
                // End of file or an error: the line itself is gone.
                const char* const error = n == 0 ? "end of file" : std::strerror(errno);
                m_log.write(now(), {{"event", "line-lost"}, {"error", error}});
                std::fprintf(stderr, "rv7k-emulator: line %s lost\n", m_line.path().c_str());
                return 1;
            }
        }
        if (ready > 0 && fds[1].fd >= 0 && (fds[1].revents & POLLOUT))
            flushOutput();
        sendDueReplies();
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rv7k-emulator"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PELMORA_VERSION_TEXT));
    Options options;
    QString message;
    switch (parseOptions(QCoreApplication::arguments(), options, message)) {
    case Request::ShowText:
        std::fputs(qPrintable(message), stdout);
        return 0;
    case Request::Refuse:
        std::fprintf(stderr, "rv7k-emulator: %s\nTry --help.\n", qPrintable(message));
        return 2;
    case Request::Serve:
        break;
    }
    if (!installSignals()) {
        std::fprintf(stderr, "rv7k-emulator: cannot set up signal handling: %s\n", std::strerror(errno));
        return 1;
    }

    JsonLog log;
    Line line;
    std::string error;
    if (!options.logPath.isEmpty() && !log.open(options.logPath, message)) {
        std::fprintf(stderr, "rv7k-emulator: %s\n", qPrintable(message));
        return 1;
    }
    // A line that vanishes with its unit is made when the first unit arrives.
    const bool opened = options.vanish || (options.pty ? line.openPty(error)
                                           : line.openDevice(QFile::encodeName(options.device).toStdString(), error));
    if (!opened) {
        std::fprintf(stderr, "rv7k-emulator: %s\n", error.c_str());
        return 1;
    }
    const QByteArray link = QFile::encodeName(options.link);
    if (!options.vanish && !link.isEmpty()) {
        ::unlink(link.constData());
        if (::symlink(line.path().c_str(), link.constData()) != 0) {
            std::fprintf(stderr, "rv7k-emulator: cannot link %s: %s\n", link.constData(), std::strerror(errno));
            return 1;
        }
    }

    const std::string shown = link.isEmpty() ? line.path() : link.toStdString();
    log.write(now(), {{"event", "start"}, {"line", QString::fromLocal8Bit(shown)}});
    std::printf("%s\n", shown.c_str());
    std::fflush(stdout);
    const int status = Server(options, line, log).run();
    if (!link.isEmpty())
        ::unlink(link.constData());
    return status;
}
