// Output for logs and pipes: one line per stage, one every 10 % of the data,
// one result per device, each tagged with its port; a table closes a run of
// several devices. Quiet keeps the failures only.

#include "ExitStatus.h"
#include "Report.h"
#include "wire/StreamPacing.h"

#include <vector>

namespace {

class PlainLines final : public Report {
public:
    PlainLines(const QList<ChosenPort>& ports, const LabelFileFacts& file, int slot, bool quiet)
        : ports_(ports), file_(file), slot_(slot), quiet_(quiet), tenths_(ports.size(), 0), results_(ports.size())
    {
    }

    void stage(int device, Stage stage) override
    {
        if (stage != Stage::Done)
            say(device, QString::fromLatin1(stageName(stage)));
    }

    void progress(int device, qint64 sent, qint64 total) override
    {
        if (total <= 0)
            return;
        const int tenth = int(sent * 10 / total);
        if (tenth <= tenths_[device])
            return;
        tenths_[device] = tenth;
        say(device, QStringLiteral("streaming %1 % (%2/%3 bytes, %4 left)")
                        .arg(tenth * 10)
                        .arg(sent)
                        .arg(total)
                        .arg(ReportText::clock(wholeSecondsLeft(streamSecondsLeft(total, sent)))));
    }

    void result(int device, const LoadResult& r) override
    {
        results_[device] = r;
        const QString text = ReportText::outcome(r, file_.size, slot_);
        if (r.exitStatus != ExitStatus::Loaded || !quiet_)
            write(QStringLiteral("[%1] %2\n").arg(ports_[device].path, text));
    }

    void end() override
    {
        if (!quiet_ && ports_.size() > 1)
            write(ReportText::summary(ports_, results_, file_.size));
    }

private:
    void say(int device, const QString& text)
    {
        if (!quiet_)
            write(QStringLiteral("[%1] %2\n").arg(ports_[device].path, text));
    }
    static void write(const QString& text)
    {
        std::fputs(text.toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
    }

    QList<ChosenPort> ports_;
    LabelFileFacts file_;
    int slot_;
    bool quiet_;
    std::vector<int> tenths_;
    QList<LoadResult> results_;
};

}  // namespace

std::unique_ptr<Report> makePlainReport(const QList<ChosenPort>& ports, const LabelFileFacts& file, int slot, bool quiet)
{
    return std::make_unique<PlainLines>(ports, file, slot, quiet);
}
