// Streams a 1,000-byte label file through the whole program to the emulator
// over a pseudo-terminal, and prints from the emulator's log how long the
// stream took against its nominal 16.15 s, how the frames were spaced, and the
// program's CPU time and peak memory. The same stream runs once more with the
// window shown and repainted whole every 20 ms, to show that paint work done
// during the waits does not stretch the pacing, and once with a clock that
// spins instead of sleeping, as the baseline.

#include "EmulatorProcess.h"
#include "Form1.h"
#include "link/PortDirectory.h"
#include "window/StatusBar.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int kBytes = 1000;
constexpr double kNominal = 1.0 + kBytes * 0.015 + (kBytes / 100) * 0.015;

// Notes how far each wait ran past what was asked.
class CheckedClock : public Clock {
public:
    explicit CheckedClock(bool spin) : spin_(spin) {}
    double now() override { return real_.now(); }
    void sleepFor(double seconds) override
    {
        if (!spin_) {
            real_.sleepFor(seconds);
            return;
        }
        const double end = real_.now() + seconds;
        while (real_.now() < end) {
        }
    }
    void waitDone(double asked, double start, double end) override
    {
        // What runs between two waits of the stream (frame, bar) stretches it too.
        if (asked < 0.1 && lastEnd > 0) {
            between += start - lastEnd;
            longestBetween = std::max(longestBetween, start - lastEnd);
        }
        lastEnd = end;
        const double over = (end - start) - asked;
        shortest = std::min(shortest, over);
        longest = std::max(longest, over);
        late += over;
        ++waits;
    }
    double shortest = 1e9;
    double longest = 0;
    double late = 0;  // summed over all waits
    double between = 0;  // from the end of a wait to the start of the next short one
    double longestBetween = 0;
    double lastEnd = 0;
    int waits = 0;

private:
    SteadyClock real_;
    bool spin_;
};

// Counts the paints the window gets.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

class SilentDialogs : public OperatorDialogs {
public:
    void message(QWidget*, const QString& text, Icon) override { messages << text; }
    std::optional<QString> openFile(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QStringList messages;
};

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

long peakKiB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

double at(std::vector<double> v, double q)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * double(v.size())))];
}

bool run(const char* name, bool spin, bool repaint, const QString& labelPath)
{
    EmulatorProcess emulator;
    if (!emulator.start()) {
        std::fprintf(stderr, "emulator: %s\n", qPrintable(emulator.errorString()));
        return false;
    }
    qputenv(PortDirectory::kEnvironmentVariable, emulator.ptyPath().toLocal8Bit());
    auto clock = std::make_shared<CheckedClock>(spin);
    auto dialogs = std::make_shared<SilentDialogs>();
    Seams seams = Seams::production();
    seams.clock = clock;
    seams.dialogs = dialogs;

    Form1 form(seams);
    form.Form_Load();
    form.StatusBar1_PanelClick(form.StatusBar1->Panels(4));
    if (!form.MSComm1.PortOpen()) {
        std::fprintf(stderr, "%s: no connection\n", name);
        return false;
    }
    form.Text1->setText(labelPath);
    QTimer repainter;
    PaintCounter painted;
    form.installEventFilter(&painted);
    if (repaint) {
        form.show();
        repainter.setInterval(20);
        QObject::connect(&repainter, &QTimer::timeout, &form, [&form] { form.update(); });
        repainter.start();
    }
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    form.Command1_Click();
    while (dialogs->messages.isEmpty() && wall.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double cpu = cpuSeconds() - cpuBefore;
    const double elapsed = double(wall.elapsed()) / 1000.0;
    emulator.waitForLog([](const QList<QJsonObject>& log) {
        return std::any_of(log.begin(), log.end(), [](const QJsonObject& o) {
            return o.value(QStringLiteral("payload")).toString() == QStringLiteral("#File#");
        });
    });

    const auto frames = emulator.readFrames();
    double lengthAt = -1, fileAt = -1;
    std::vector<double> gaps;
    double previousData = -1;
    for (const QJsonObject& f : frames) {
        const QString payload = f.value(QStringLiteral("payload")).toString();
        const double t = f.value(QStringLiteral("t")).toDouble();
        if (payload.startsWith(QLatin1Char('%')))
            lengthAt = t;
        else if (payload == QStringLiteral("#File#"))
            fileAt = t;
        else if (f.value(QStringLiteral("kind")).toString() == QStringLiteral("data")) {
            if (previousData >= 0)
                gaps.push_back((t - previousData) * 1000.0);
            previousData = t;
        }
    }
    if (lengthAt < 0 || fileAt < 0 || gaps.empty()) {
        std::fprintf(stderr, "%s: the log holds no whole stream\n", name);
        return false;
    }
    // The stream starts with its own 1 s wait right after the 1 s the length
    // frame waits for its answer; the line shows the length frame, not that read.
    const double duration = fileAt - lengthAt - 1.0;
    std::printf("%-10s stream %.3f s (nominal %.2f s, %+.2f %%)  gaps ms: min %.3f median %.3f p99 %.3f max %.3f  "
                "cpu %.3f s over %.1f s (%.1f %%)  peak memory %ld KiB  waits vs asked: shortest %+.6f s longest %+.6f s "
                "summed %+.3f s over %d waits  between waits %.3f s (longest %.3f ms)  window paints %d\n",
                name, duration, kNominal, 100.0 * (duration - kNominal) / kNominal, at(gaps, 0.0), at(gaps, 0.5),
                at(gaps, 0.99), at(gaps, 1.0), cpu, elapsed, 100.0 * cpu / elapsed, peakKiB(), clock->shortest,
                clock->longest, clock->late, clock->waits, clock->between, clock->longestBetween * 1000.0, painted.paints);
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString label = dir.filePath(QStringLiteral("label.bin"));
    QFile f(label);
    f.open(QIODevice::WriteOnly);
    for (int i = 0; i < kBytes; ++i)
        f.putChar(char(i * 7));
    f.close();
    std::printf("1,000-byte label file through the program to the emulator\n");
    // Names on the command line pick some of the runs.
    const QStringList only = QCoreApplication::arguments().mid(1);
    const auto wanted = [&only](const char* name) { return only.isEmpty() || only.contains(QLatin1String(name)); };
    const bool ok = (!wanted("Bekle") || run("Bekle", false, false, label)) &&
                    (!wanted("repainted") || run("repainted", false, true, label)) &&
                    (!wanted("spin") || run("spin", true, false, label));
    return ok ? 0 : 1;
}
