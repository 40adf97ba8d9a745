// The station's page on a long ledger: a ledger of 100,000 units (argument 1
// for another count), a station started on it, its state polled twice a
// second throughout while /api/units?limit=1 and the whole /units.csv are
// fetched, then while three clients hold downloads they never read. Prints
// the slowest poll before any download (the baseline) and during them, the
// CSV's time, and the station's memory at start and at its peak.

#include "ledger/LocalLedger.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// A line of /proc/PID/status in KiB: VmRSS now, VmHWM the peak.
long statusKiB(pid_t pid, const char* key)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qsizetype(strlen(key)) + 1).trimmed().split(' ').first().toLong();
    return -1;
}

struct Fetched {
    int status = 0;
    qint64 bytes = 0;  // of the body, as sent
    double seconds = 0;
};

// One GET on a connection of its own, read to its length or to the close.
Fetched fetch(quint16 port, const char* path)
{
    const auto start = Clock::now();
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    s.write(QByteArray("GET ") + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QByteArray head;
    qint64 length = -1, body = 0;
    Fetched f;
    while (s.waitForReadyRead(30000) || s.state() == QAbstractSocket::ConnectedState) {
        const QByteArray in = s.readAll();
        if (f.status == 0) {
            head += in;
            const qsizetype end = head.indexOf("\r\n\r\n");
            if (end < 0)
                continue;
            f.status = head.mid(9, 3).toInt();
            if (const qsizetype at = head.indexOf("Content-Length: "); at >= 0 && at < end)
                length = head.mid(at + 16, head.indexOf("\r\n", at) - at - 16).toLongLong();
            body = head.size() - end - 4;
        } else {
            body += in.size();
        }
        if (length >= 0 && body >= length)
            break;
    }
    f.bytes = body;
    f.seconds = since(start);
    return f;
}

// The state polled twice a second until stopped; the slowest answer since the last mark.
class Poller {
public:
    explicit Poller(quint16 port) : thread_([this, port] { run(port); }) {}
    ~Poller()
    {
        stop_ = true;
        thread_.join();
    }
    // The slowest poll since the last call, how many there were, how many failed.
    void mark(double& slowest, int& polls, int& failed)
    {
        std::lock_guard lock(mutex_);
        slowest = slowest_;
        polls = polls_;
        failed = failed_;
        slowest_ = 0;
        polls_ = failed_ = 0;
    }

private:
    void run(quint16 port)
    {
        for (auto next = Clock::now(); !stop_; next += std::chrono::milliseconds(500)) {
            std::this_thread::sleep_until(next);
            const Fetched f = fetch(port, "/api/state");
            std::lock_guard lock(mutex_);
            ++polls_;
            failed_ += f.status == 200 ? 0 : 1;
            slowest_ = std::max(slowest_, f.seconds);
        }
    }

    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    double slowest_ = 0;
    int polls_ = 0, failed_ = 0;
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int units = argc > 1 ? std::atoi(argv[1]) : 100000;
    // In memory where there is such a file system: the ledger is written a unit at a time.
    QTemporaryDir dir((QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm") : QDir::tempPath())
                      + QStringLiteral("/bench_page-XXXXXX"));
    const QString ledgerPath = dir.filePath(QStringLiteral("ledger.sqlite"));
    {
        const auto start = Clock::now();
        Ledger::LocalLedger ledger(ledgerPath);
        for (int n = 1; n <= units; ++n) {
            Ledger::UnitRecord r{QUuid::createUuid(), {}, "bench-pc", "A", "/dev/ttyUSB0", "", n, "line 7", QString(64, 'a'), "1",
                                 QDateTime::currentDateTimeUtc(), {}, {}, {}, {}, {}, {}, {}};
            for (int slot : {1, 3})
                r.labels.append({slot, QStringLiteral("label%1.epl").arg(slot), QString(64, 'b'), 1000, 1000, true, true, "loaded", {}});
            ledger.begin(r);
            r.result = QStringLiteral("pass");
            r.end = QDateTime::currentDateTimeUtc();
            ledger.close(r);
        }
        std::printf("ledger of %d units written in %.0f s, %.1f MB\n", units, since(start),
                    double(QFileInfo(ledgerPath).size()) / 1e6);
    }
    QFile label(dir.filePath(QStringLiteral("label.epl"))), recipe(dir.filePath(QStringLiteral("recipe.toml")));
    if (!label.open(QIODevice::WriteOnly) || !recipe.open(QIODevice::WriteOnly))
        return 1;
    label.write("label\r\n");
    recipe.write("name = \"bench\"\n[[label]]\nslot = 1\nfile = \"label.epl\"\n");
    label.close();
    recipe.close();

    quint16 port = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        port = probe.serverPort();
    }
    std::vector<QByteArray> args{QCoreApplication::applicationDirPath().toLocal8Bit() + "/pelmora-station",
                                 "--listen", "127.0.0.1:" + QByteArray::number(port), "--recipe",
                                 recipe.fileName().toLocal8Bit(), "--ledger", ledgerPath.toLocal8Bit(), "--fixture",
                                 dir.filePath(QStringLiteral("no-fixture")).toLocal8Bit()};
    std::vector<char*> argv2;
    for (QByteArray& a : args)
        argv2.push_back(a.data());
    argv2.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv2[0], &actions, nullptr, argv2.data(), environ) != 0) {
        std::perror("pelmora-station");
        return 1;
    }
    for (int i = 0; i < 100 && fetch(port, "/api/state").status != 200; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const long startKiB = statusKiB(pid, "VmRSS:");

    double slowest = 0;
    int polls = 0, failed = 0;
    long heldKiB = 0;
    {
        Poller poller(port);
        std::this_thread::sleep_for(std::chrono::seconds(5));
        poller.mark(slowest, polls, failed);
        std::printf("no download (baseline): %d polls, %d unanswered, slowest %.3f s\n", polls, failed, slowest);

        const Fetched latest = fetch(port, "/api/units?limit=1");
        const Fetched csv = fetch(port, "/units.csv");
        std::this_thread::sleep_for(std::chrono::seconds(1));
        poller.mark(slowest, polls, failed);
        std::printf("/api/units?limit=1: %d in %.3f s; /units.csv: %d, %.1f MB in %.2f s (%.1f MB/s)\n", latest.status,
                    latest.seconds, csv.status, double(csv.bytes) / 1e6, csv.seconds, double(csv.bytes) / 1e6 / csv.seconds);
        std::printf("meanwhile: %d polls, %d unanswered, slowest %.3f s\n", polls, failed, slowest);

        // Downloads nobody reads, through small windows, until the station drops them.
        std::vector<int> held;
        for (int i = 0; i < 3; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            const int window = 4096;
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
            sockaddr_in to{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
            const QByteArray request = "GET /units.csv HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
            if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0
                || ::write(fd, request.constData(), size_t(request.size())) != request.size())
                return 1;
            held.push_back(fd);
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
        heldKiB = statusKiB(pid, "VmRSS:");
        const Fetched fourth = fetch(port, "/units.csv");
        std::this_thread::sleep_for(std::chrono::seconds(7));
        for (const int fd : held)
            ::close(fd);
        poller.mark(slowest, polls, failed);
        std::printf("three downloads never read: station at %ld KiB while held, a fourth answered %d; "
                    "%d polls, %d unanswered, slowest %.3f s\n",
                    heldKiB, fourth.status, polls, failed, slowest);
    }
    long peakKiB = statusKiB(pid, "VmHWM:");
    peakKiB = std::max(peakKiB, heldKiB);
    ::kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    std::printf("station memory: %ld KiB at start, peak %ld KiB (%s 64 MB)\n", startKiB, peakKiB,
                peakKiB < 64 * 1024 ? "under" : "OVER");
    return peakKiB < 64 * 1024 ? 0 : 1;
}
