// Runs pelmora-station with 32 and with 64 fixtures at once, each an emulator
// whose unit arrives after an idle spell and takes a one-label recipe of 1,000
// bytes, once with the paced wait sleeping to each deadline and once with it
// reading the clock for the last fraction of a millisecond (PELMORA_WAIT=spin).
// Prints the CPU the station spends per idle (polling) fixture and per
// loading fixture, its peak memory, and from each emulator's log how long
// its stream took against the nominal 15.15 s.

#include "EmulatorProcess.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <cstdio>
#include <fstream>
#include <memory>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int kBytes = 1000;
constexpr double kNominal = kBytes * 0.015 + (kBytes / 100) * 0.015;
constexpr double kIdleSeconds = 12;  // before the first unit arrives

// From the length frame to "#File#", less the length's own 1 s wait.
double streamSpan(const EmulatorProcess& emulator)
{
    // From the first data frame to "#File#": the length's answer is read as
    // soon as it is in, so the stream's start is no fixed time after it.
    double firstDataAt = -1, fileAt = -1;
    for (const QJsonObject& f : emulator.readFrames()) {
        const QString payload = f.value(QStringLiteral("payload")).toString();
        const double t = f.value(QStringLiteral("t")).toDouble();
        if (firstDataAt < 0 && !payload.isEmpty() && payload[0].isDigit())
            firstDataAt = t;
        else if (payload == QStringLiteral("#File#"))
            fileAt = t;
    }
    return firstDataAt < 0 || fileAt < 0 ? -1 : fileAt - firstDataAt;
}

// CPU seconds the process has used so far.
double cpuSeconds(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::vector<std::string> fields;
    std::string field;
    for (char c : text.substr(close + 2)) {
        if (c == ' ') {
            fields.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    // utime and stime are fields 14 and 15 of the line, 12 and 13 after the name.
    return double(std::stoll(fields.at(11)) + std::stoll(fields.at(12))) / double(sysconf(_SC_CLK_TCK));
}

double since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int run(const QTemporaryDir& dir, const QFile& recipe, int fixtures, const char* wait)
{
    ::setenv("PELMORA_WAIT", wait, 1);
    QFile::remove(dir.filePath(QStringLiteral("ledger.sqlite")));

    std::vector<std::unique_ptr<EmulatorProcess>> emulators;
    std::vector<QByteArray> args{QCoreApplication::applicationDirPath().toLocal8Bit() + "/pelmora-station",
                                 "--listen", "off", "--recipe", recipe.fileName().toLocal8Bit(), "--ledger",
                                 dir.filePath(QStringLiteral("ledger.sqlite")).toLocal8Bit(), "--units",
                                 QByteArray::number(fixtures)};
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < fixtures; ++i) {
        emulators.push_back(std::make_unique<EmulatorProcess>());
        // Every unit arrives at the same moment, whenever its emulator started.
        const double first = kIdleSeconds - since(started);
        if (!emulators.back()->start({QStringLiteral("--units"), QStringLiteral("1"), QStringLiteral("--present"),
                                      QStringLiteral("60"), QStringLiteral("--first-after"),
                                      QString::number(std::max(first, 0.0), 'f', 3)})) {
            std::fprintf(stderr, "emulator: %s\n", qPrintable(emulators.back()->errorString()));
            return 1;
        }
        args.push_back("--fixture");
        args.push_back(emulators.back()->ptyPath().toLocal8Bit());
    }
    std::vector<char*> argv2;
    for (QByteArray& a : args)
        argv2.push_back(a.data());
    argv2.push_back(nullptr);

    // Standard error to /dev/null: the event lines are not what is measured.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv2[0], &actions, nullptr, argv2.data(), environ) != 0) {
        std::perror("pelmora-station");
        return 1;
    }
    const auto spawned = std::chrono::steady_clock::now();
    // The idle spell, less a second at each end for start-up and arrival.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double idleFrom = cpuSeconds(pid);
    const double idleStart = since(spawned);
    std::this_thread::sleep_until(started + std::chrono::duration<double>(kIdleSeconds - 1));
    const double idleTo = cpuSeconds(pid);
    const double idleSpan = since(spawned) - idleStart;
    const double loadStart = since(spawned);

    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double loadSpan = since(spawned) - loadStart;
    const double total = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "pelmora-station ended with %d\n", WEXITSTATUS(status));
        return 1;
    }
    std::vector<double> spans;
    for (const auto& e : emulators)
        spans.push_back(streamSpan(*e));
    std::sort(spans.begin(), spans.end());
    if (spans.front() < 0) {
        std::fprintf(stderr, "a log holds no whole stream\n");
        return 1;
    }
    const auto over = [](double span) { return 100.0 * (span - kNominal) / kNominal; };
    const double idleShare = 100.0 * (idleTo - idleFrom) / idleSpan / fixtures;
    const double loadShare = 100.0 * (total - idleTo) / loadSpan / fixtures;
    std::printf("%d fixtures, %-5s  stream span %.3f..%.3f s (nominal %.2f s, %+.2f..%+.2f %%)\n", fixtures, wait,
                spans.front(),
                spans.back(), kNominal, over(spans.front()), over(spans.back()));
    std::printf("cpu per idle fixture %.3f %% of a core (%.1f s)  per loading fixture %.3f %% of a core (%.1f s)  "
                "peak memory %ld KiB\n",
                idleShare, idleSpan, loadShare, loadSpan, usage.ru_maxrss);
    return 0;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QByteArray bytes(kBytes, '\0');
    for (int i = 0; i < kBytes; ++i)
        bytes[i] = char(i * 7);
    QFile label(dir.filePath(QStringLiteral("label.bin")));
    QFile recipe(dir.filePath(QStringLiteral("recipe.toml")));
    if (!label.open(QIODevice::WriteOnly) || !recipe.open(QIODevice::WriteOnly))
        return 1;
    label.write(bytes);
    recipe.write("name = \"bench\"\n[[label]]\nslot = 1\nfile = \"label.bin\"\n");
    label.close();
    recipe.close();
    for (const int fixtures : {32, 64}) {
        for (const char* wait : {"spin", "sleep"}) {
            if (const int failed = run(dir, recipe, fixtures, wait))
                return failed;
        }
    }
    return 0;
}
