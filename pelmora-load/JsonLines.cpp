// JSON Lines on standard output for the program that started the run: one
// event per stage, progress once a second, one result per device with its
// exit status and what its slot holds. Failures also go to standard error.

#include "ExitStatus.h"
#include "Report.h"
#include "wire/StreamPacing.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <vector>

namespace {

constexpr qint64 kProgressEveryMs = 1000;

class JsonLines final : public Report {
public:
    JsonLines(const QList<ChosenPort>& ports, const LabelFileFacts& file, int slot)
        : ports_(ports), file_(file), slot_(slot), lastProgress_(ports.size(), -1)
    {
        clock_.start();
    }

    void stage(int device, Stage stage) override
    {
        print(device, {{QStringLiteral("event"), QStringLiteral("stage")},
                      {QStringLiteral("stage"), QString::fromLatin1(stageName(stage))}});
    }

    void progress(int device, qint64 sent, qint64 total) override
    {
        const qint64 now = clock_.elapsed();
        if (lastProgress_[device] >= 0 && now - lastProgress_[device] < kProgressEveryMs && sent < total)
            return;
        if (sent == lastSent_.value(device, -1))
            return;
        lastProgress_[device] = now;
        lastSent_[device] = sent;
        print(device, {{QStringLiteral("event"), QStringLiteral("progress")},
                      {QStringLiteral("sent"), sent},
                      {QStringLiteral("total"), total},
                      {QStringLiteral("percent"), total > 0 ? int(sent * 100 / total) : 100},
                      {QStringLiteral("secondsLeft"), wholeSecondsLeft(streamSecondsLeft(total, sent))}});
    }

    void result(int device, const LoadResult& r) override
    {
        print(device, {{QStringLiteral("event"), QStringLiteral("result")},
                      {QStringLiteral("exitStatus"), r.exitStatus},
                      {QStringLiteral("result"), r.result},
                      {QStringLiteral("slot"), slot_},
                      {QStringLiteral("slotState"), r.slotState},
                      {QStringLiteral("dataSent"), r.dataSent},
                      {QStringLiteral("total"), file_.size},
                      {QStringLiteral("endSent"), r.endSent},
                      {QStringLiteral("error"), r.error},
                      {QStringLiteral("seconds"), r.seconds}});
        if (r.exitStatus != ExitStatus::Loaded)
            std::fprintf(stderr, "[%s] %s\n", qPrintable(ports_[device].path),
                         qPrintable(ReportText::outcome(r, file_.size, slot_)));
    }

    void end() override {}

private:
    void print(int device, QJsonObject event)
    {
        event.insert(QStringLiteral("port"), ports_[device].path);
        event.insert(QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
        std::fputs(QJsonDocument(event).toJson(QJsonDocument::Compact).append('\n').constData(), stdout);
        std::fflush(stdout);
    }

    QList<ChosenPort> ports_;
    LabelFileFacts file_;
    int slot_;
    std::vector<qint64> lastProgress_;
    QHash<int, qint64> lastSent_;
    QElapsedTimer clock_;
};

}  // namespace

std::unique_ptr<Report> makeJsonReport(const QList<ChosenPort>& ports, const LabelFileFacts& file, int slot)
{
    return std::make_unique<JsonLines>(ports, file, slot);
}
