// Output on a terminal: one line per device on standard error, redrawn in
// place with its port, stage, percent, bytes and time left; the result
// stays on the device's line, and a table closes a run of several devices.

#include "ExitStatus.h"
#include "Report.h"
#include "wire/StreamPacing.h"

#include <QElapsedTimer>
#include <vector>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr qint64 kRedrawEveryMs = 100;

class LiveLines final : public Report {
public:
    LiveLines(const QList<ChosenPort>& ports, const LabelFileFacts& file, int slot)
        : ports_(ports), file_(file), slot_(slot), lines_(ports.size()), done_(ports.size(), false),
          results_(ports.size())
    {
        for (const ChosenPort& p : ports)
            width_ = std::max(width_, int(p.path.size()));
        for (int i = 0; i < ports.size(); ++i)
            lines_[i] = tagged(i, QStringLiteral("waiting"));
        redraw(true);
    }

    void stage(int device, Stage stage) override
    {
        if (stage == Stage::Done)
            return;
        lines_[device] = tagged(device, QString::fromLatin1(stageName(stage)));
        redraw(true);
    }

    void progress(int device, qint64 sent, qint64 total) override
    {
        const int percent = total > 0 ? int(sent * 100 / total) : 100;
        lines_[device] = tagged(device, QStringLiteral("streaming %1 %  %2/%3 bytes  %4 left")
                                            .arg(percent, 3)
                                            .arg(sent)
                                            .arg(total)
                                            .arg(ReportText::clock(wholeSecondsLeft(streamSecondsLeft(total, sent)))));
        redraw(false);
    }

    void result(int device, const LoadResult& r) override
    {
        results_[device] = r;
        done_[device] = true;
        lines_[device] = tagged(device, ReportText::outcome(r, file_.size, slot_));
        redraw(true);
    }

    void end() override
    {
        redraw(true);
        // Each failure in full, below the block that may have cut or left it out.
        for (int i = 0; i < ports_.size(); ++i)
            if (results_[i].exitStatus != ExitStatus::Loaded && (lines_[i].size() >= terminalWidth() || i >= shown_))
                std::fprintf(stderr, "%s\n", lines_[i].toLocal8Bit().constData());
        if (ports_.size() > 1)
            std::fputs(ReportText::summary(ports_, results_, file_.size).toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
    }

private:
    static int terminalWidth()
    {
        winsize size {};
        if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 10)
            return size.ws_col;
        return 80;
    }

    // The block must fit the screen, or the lines above the top would scroll
    // away and every redraw would add lines; the last row stays for the cursor.
    static int terminalRows()
    {
        winsize size {};
        if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0)
            return std::max(2, int(size.ws_row) - 1);
        return 24;
    }

    // The devices that do not fit, counted by how far they got.
    QString restLine(int from) const
    {
        int loaded = 0, failed = 0, running = 0;
        for (int i = from; i < int(lines_.size()); ++i) {
            if (!done_[i])
                ++running;
            else if (results_[i].exitStatus == ExitStatus::Loaded)
                ++loaded;
            else
                ++failed;
        }
        return QStringLiteral("... %1 more devices: %2 loaded, %3 failed, %4 running")
            .arg(int(lines_.size()) - from)
            .arg(loaded)
            .arg(failed)
            .arg(running);
    }

    QString tagged(int device, const QString& text) const
    {
        return QStringLiteral("%1  %2").arg(ports_[device].path, -width_).arg(text);
    }

    void redraw(bool now)
    {
        if (!now && drawn_.isValid() && drawn_.elapsed() < kRedrawEveryMs)
            return;
        QByteArray out;
        // Back to the first line of the block, then each line cleared and rewritten.
        if (drawnLines_ > 0)
            out += "\x1b[" + QByteArray::number(drawnLines_) + "A";
        std::vector<QString> block = lines_;
        const int rows = terminalRows();
        if (int(block.size()) > rows) {
            block.resize(size_t(rows - 1));
            block.push_back(restLine(rows - 1));
        }
        shown_ = int(block.size()) < int(lines_.size()) ? int(block.size()) - 1 : int(lines_.size());
        // A line that wrapped would throw the block out of place: cut it at the width.
        const int width = terminalWidth();
        for (const QString& line : block)
            out += "\r\x1b[2K" + (line.size() < width ? line : line.left(width - 2) + u'…').toLocal8Bit() + "\n";
        // A block that shrank leaves no old lines below it.
        for (int i = int(block.size()); i < drawnLines_; ++i)
            out += "\r\x1b[2K\n";
        drawnLines_ = std::max(drawnLines_, int(block.size()));
        std::fputs(out.constData(), stderr);
        std::fflush(stderr);
        drawn_.start();
    }

    QList<ChosenPort> ports_;
    LabelFileFacts file_;
    int slot_;
    int width_ = 4;
    std::vector<QString> lines_;
    std::vector<bool> done_;
    QList<LoadResult> results_;
    int drawnLines_ = 0;
    int shown_ = 0;  // device lines in the block
    QElapsedTimer drawn_;
};

}  // namespace

std::unique_ptr<Report> makeLiveReport(const QList<ChosenPort>& ports, const LabelFileFacts& file, int slot)
{
    return std::make_unique<LiveLines>(ports, file, slot);
}
