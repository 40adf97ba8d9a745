// Output on a terminal: one line per fixture and a totals line, redrawn in
// place on standard error; the block never scrolls, so an operator sees
// every fixture at a glance all shift.

#include "StationReport.h"

#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr qint64 kRedrawEveryMs = 200;

class LiveBlock final : public StationView {
public:
    LiveBlock(const QList<FixtureOption>& fixtures, const Recipe& recipe)
        : fixtures_(fixtures), recipe_(recipe), lines_(fixtures.size()), last_(fixtures.size()),
          states_(fixtures.size(), State::Waiting)
    {
        for (const FixtureOption& f : fixtures)
            width_ = std::max(width_, int(f.name.size()));
        for (int i = 0; i < fixtures.size(); ++i)
            set(i, 0, QStringLiteral("waiting for a unit"));
    }

    void event(const StationEvent& e, const StationState&) override
    {
        const int i = e.fixture;
        states_[size_t(i)] = e.kind == EventKind::Result   ? State::Done
                             : e.kind == EventKind::Halted ? State::Stopped
                             : e.kind == EventKind::Waiting || e.kind == EventKind::Gone ? State::Waiting
                                                                                       : State::Loading;
        switch (e.kind) {
        case EventKind::Waiting:
            set(i, 0, (e.text.isEmpty() ? QStringLiteral("waiting for a unit")
                                        : QStringLiteral("waiting for a unit: %1").arg(e.text)) + last_[i]);
            break;
        case EventKind::Arrived:
            set(i, e.unit, e.serial.isEmpty() ? QStringLiteral("arrived") : QStringLiteral("%1 arrived").arg(e.serial));
            break;
        case EventKind::Label:
        case EventKind::LabelDone: break;
        case EventKind::Result:
            last_[i] = QStringLiteral("  (last: unit %1 %2)").arg(e.unit).arg(e.result.toUpper());
            // What the operator must do comes first: a narrow terminal cuts the end.
            set(i, e.unit, e.result == QStringLiteral("pass")
                               ? QStringLiteral("PASS  take the unit out")
                               : QStringLiteral("%1  take the unit out  %2")
                                     .arg(e.result.toUpper(), StationText::result(e).section(u' ', 1)));
            break;
        case EventKind::Gone: set(i, 0, QStringLiteral("waiting for a unit") + last_[i]); break;
        case EventKind::Halted:
            // A unit that ended but whose record could not be written says so first.
            set(i, e.unit, e.result.isEmpty() ? QStringLiteral("STOPPED: %1").arg(e.text)
                                              : QStringLiteral("%1, NOT RECORDED: %2").arg(e.result.toUpper(), e.text));
            break;
        }
        dirty_ = true;
    }

    void progress(int i, qint64 unit, const LoadView& v, const StationState&) override
    {
        states_[size_t(i)] = State::Loading;
        // No plain serial line tells a unit pulled mid-stream from one still there.
        set(i, unit, QStringLiteral("loading, do not take the unit out: slot %1 (%2 of %3)  %4 %  %5 left")
                         .arg(v.slot)
                         .arg(v.label + 1)
                         .arg(recipe_.labels.size())
                         .arg(v.percent, 3)
                         .arg(StationText::clock(v.secondsLeft)));
        dirty_ = true;
    }

    void flush(const StationState& state) override
    {
        // The totals line's clock moves even when nothing else does.
        if (drawn_.isValid() && drawn_.elapsed() < (dirty_ ? kRedrawEveryMs : 1000))
            return;
        redraw(state.tally);
    }

    void end(const StationState& state) override
    {
        redraw(state.tally);
        // Each line that the width cut, in full below the block.
        const int width = terminalWidth();
        for (const QString& line : lines_)
            if (line.size() >= width)
                std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
        std::fflush(stderr);
    }

private:
    enum class State { Waiting, Loading, Done, Stopped };

    // Lines the block may take: a block taller than the terminal would scroll.
    static int terminalRows()
    {
        winsize size {};
        if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0)
            return std::max(3, int(size.ws_row) - 1);
        return 24;
    }

    // "+ 12 more fixtures: 7 loading, 4 waiting, 1 to take out"
    QString restLine(size_t from) const
    {
        int count[4] = {};
        for (size_t i = from; i < states_.size(); ++i)
            ++count[int(states_[i])];
        QStringList parts;
        if (count[int(State::Loading)])
            parts << QStringLiteral("%1 loading").arg(count[int(State::Loading)]);
        if (count[int(State::Waiting)])
            parts << QStringLiteral("%1 waiting").arg(count[int(State::Waiting)]);
        if (count[int(State::Done)])
            parts << QStringLiteral("%1 to take out").arg(count[int(State::Done)]);
        if (count[int(State::Stopped)])
            parts << QStringLiteral("%1 stopped").arg(count[int(State::Stopped)]);
        return QStringLiteral("+ %1 more fixtures: %2").arg(states_.size() - from).arg(parts.join(QStringLiteral(", ")));
    }

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
        if (drawn_.isValid() && drawnLines_ > 0)
            out += "\x1b[" + QByteArray::number(drawnLines_) + "A";
        // A line that wrapped would push the block out of place: cut at the width.
        const int width = terminalWidth();
        const auto put = [&](const QString& line) {
            out += "\r\x1b[2K" + (line.size() < width ? line : line.left(width - 2) + u'…').toLocal8Bit() + "\n";
        };
        // As many fixtures as fit, and a line counting the rest.
        const size_t rows = size_t(terminalRows());
        const size_t shown = lines_.size() + 1 <= rows ? lines_.size() : rows - 2;
        for (size_t i = 0; i < shown; ++i)
            put(lines_[i]);
        if (shown < lines_.size())
            put(restLine(shown));
        put(StationText::totals(tally));
        drawnLines_ = int(shown < lines_.size() ? shown + 2 : shown + 1);
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
    std::vector<State> states_;
    bool dirty_ = true;
    int drawnLines_ = 0;
    QElapsedTimer drawn_;
};

}  // namespace

std::unique_ptr<StationView> makeLiveBlock(const QList<FixtureOption>& fixtures, const Recipe& recipe)
{
    return std::make_unique<LiveBlock>(fixtures, recipe);
}
