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
        : ports_(ports), file_(file), slot_(slot), lines_(ports.size()), results_(ports.size())
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
        lines_[device] = tagged(device, ReportText::outcome(r, file_.size, slot_));
        redraw(true);
    }

    void end() override
    {
        redraw(true);
        // Each failure in full, below the block that may have cut it.
        for (int i = 0; i < ports_.size(); ++i)
            if (results_[i].exitStatus != ExitStatus::Loaded && lines_[i].size() >= terminalWidth())
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
        if (drawn_.isValid() && !lines_.empty())
            out += "\x1b[" + QByteArray::number(qsizetype(lines_.size())) + "A";
        // A line that wrapped would throw the block out of place: cut it at the width.
        const int width = terminalWidth();
        for (const QString& line : lines_)
            out += "\r\x1b[2K" + (line.size() < width ? line : line.left(width - 2) + u'…').toLocal8Bit() + "\n";
        std::fputs(out.constData(), stderr);
        std::fflush(stderr);
        drawn_.start();
    }

    QList<ChosenPort> ports_;
    LabelFileFacts file_;
    int slot_;
    int width_ = 4;
    std::vector<QString> lines_;
    QList<LoadResult> results_;
    QElapsedTimer drawn_;
};

}  // namespace

std::unique_ptr<Report> makeLiveReport(const QList<ChosenPort>& ports, const LabelFileFacts& file, int slot)
{
    return std::make_unique<LiveLines>(ports, file, slot);
}
