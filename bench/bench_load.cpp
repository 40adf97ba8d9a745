// Streams a 1,000-byte label file with pelmora-load, into one emulator and
// into eight at once, and prints from each emulator's log how long its
// stream took against the nominal 15.15 s, with the loader's CPU time per
// device and its peak memory.

#include "EmulatorProcess.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

constexpr int kBytes = 1000;
constexpr double kNominal = kBytes * 0.015 + (kBytes / 100) * 0.015;

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

bool run(int devices, const QString& label)
{
    std::vector<std::unique_ptr<EmulatorProcess>> emulators;
    std::vector<QByteArray> args{QCoreApplication::applicationDirPath().toLocal8Bit() + "/pelmora-load", "-q",
                                 "--slot", "1"};
    for (int i = 0; i < devices; ++i) {
        emulators.push_back(std::make_unique<EmulatorProcess>());
        if (!emulators.back()->start()) {
            std::fprintf(stderr, "emulator: %s\n", qPrintable(emulators.back()->errorString()));
            return false;
        }
        args.push_back("--port");
        args.push_back(emulators.back()->ptyPath().toLocal8Bit());
    }
    args.push_back(label.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        std::perror("pelmora-load");
        return false;
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%d devices: pelmora-load ended with %d\n", devices, WEXITSTATUS(status));
        return false;
    }
    const double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    std::vector<double> spans;
    for (const auto& e : emulators)
        spans.push_back(streamSpan(*e));
    std::sort(spans.begin(), spans.end());
    if (spans.front() < 0) {
        std::fprintf(stderr, "%d devices: a log holds no whole stream\n", devices);
        return false;
    }
    const auto over = [](double span) { return 100.0 * (span - kNominal) / kNominal; };
    std::printf("%d device%s  stream span %.3f..%.3f s (nominal %.2f s, %+.2f..%+.2f %%)  cpu %.3f s per device  "
                "peak memory %ld KiB\n",
                devices, devices == 1 ? " " : "s", spans.front(), spans.back(), kNominal, over(spans.front()),
                over(spans.back()), cpu / devices, usage.ru_maxrss);
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString label = dir.filePath(QStringLiteral("label.bin"));
    QFile f(label);
    if (!f.open(QIODevice::WriteOnly))
        return 1;
    QByteArray bytes(kBytes, '\0');
    for (int i = 0; i < kBytes; ++i)
        bytes[i] = char(i * 7);
    f.write(bytes);
    f.close();
    const bool ok = run(1, label) && run(8, label);
    return ok ? 0 : 1;
}
