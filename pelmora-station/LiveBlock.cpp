// Output on a terminal: one line per fixture and a totals line, redrawn in
// place on standard error; the block never scrolls, so an operator sees
// every fixture at a glance all shift.

#include "StationReport.h"

#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr qint64 kRedrawEveryMs = 200;

class LiveBlock final : public StationReport {
public:
    LiveBlock(const QList<FixtureOption>& fixtures, const Recipe& recipe)
        : fixtures_(fixtures), recipe_(recipe), lines_(fixtures.size()), last_(fixtures.size())
    {
        for (const FixtureOption& f : fixtures)
            width_ = std::max(width_, int(f.name.size()));
        for (int i = 0; i < fixtures.size(); ++i)
            set(i, 0, QStringLiteral("waiting for a unit"));
    }

    void event(const StationEvent& e, const Tally&) override
    {
        const int i = e.fixture;
        switch (e.kind) {
        case EventKind::Waiting:
            set(i, 0, (e.text.isEmpty() ? QStringLiteral("waiting for a unit")
                                        : QStringLiteral("waiting for a unit: %1").arg(e.text)) + last_[i]);
            break;
        case EventKind::Arrived: set(i, e.unit, QStringLiteral("arrived")); break;
        case EventKind::Label:
        case EventKind::LabelDone: break;
        case EventKind::Result:
            last_[i] = QStringLiteral("  (last: unit %1 %2)").arg(e.unit).arg(e.result.toUpper());
            set(i, e.unit, StationText::result(e) + QStringLiteral("  take the unit out"));
            break;
        case EventKind::Gone: set(i, 0, QStringLiteral("waiting for a unit") + last_[i]); break;
        case EventKind::Halted: set(i, e.unit, QStringLiteral("STOPPED: %1").arg(e.text)); break;
        }
        dirty_ = true;
    }

    void progress(int i, qint64 unit, const LoadView& v) override
    {
        set(i, unit, QStringLiteral("loading slot %1 (%2 of %3)  %4 %  %5 left")
                         .arg(v.slot)
                         .arg(v.label + 1)
                         .arg(recipe_.labels.size())
                         .arg(v.percent, 3)
                         .arg(StationText::clock(v.secondsLeft)));
        dirty_ = true;
    }

    void flush(const Tally& tally) override
    {
        // The totals line's clock moves even when nothing else does.
        if (drawn_.isValid() && drawn_.elapsed() < (dirty_ ? kRedrawEveryMs : 1000))
            return;
        redraw(tally);
    }

    void end(const Tally& tally) override
    {
        redraw(tally);
        // Each line that the width cut, in full below the block.
        const int width = terminalWidth();
        for (const QString& line : lines_)
            if (line.size() >= width)
                std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
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

    void set(int i, qint64 unit, const QString& text)
    {
        const QString tag = unit > 0 ? QStringLiteral("unit %1").arg(unit) : QString();
        lines_[size_t(i)] = QStringLiteral("%1  %2  %3").arg(fixtures_[i].name, -width_).arg(tag, -9).arg(text);
    }

    void redraw(const Tally& tally)
    {
        QByteArray out;
        // Back to the block's first line, then each line cleared and written again.
        if (drawn_.isValid())
            out += "\x1b[" + QByteArray::number(qsizetype(lines_.size() + 1)) + "A";
        // A line that wrapped would push the block out of place: cut at the width.
        const int width = terminalWidth();
        const auto put = [&](const QString& line) {
            out += "\r\x1b[2K" + (line.size() < width ? line : line.left(width - 2) + u'…').toLocal8Bit() + "\n";
        };
        for (const QString& line : lines_)
            put(line);
        put(StationText::totals(tally));
        std::fputs(out.constData(), stderr);
        std::fflush(stderr);
        drawn_.start();
        dirty_ = false;
    }

    QList<FixtureOption> fixtures_;
    const Recipe& recipe_;
    std::vector<QString> lines_;
    std::vector<QString> last_;
    int width_ = 4;
    bool dirty_ = true;
    QElapsedTimer drawn_;
};

}  // namespace

std::unique_ptr<StationReport> makeLiveBlock(const QList<FixtureOption>& fixtures, const Recipe& recipe)
{
    return std::make_unique<LiveBlock>(fixtures, recipe);
}
