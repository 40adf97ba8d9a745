// Output to the journal when the service manager gave us one: each event a
// message with its fields, so `journalctl -u pelmora-station FIXTURE=A` or
// `RESULT=fail` finds a fixture's or a result's units.

#include "../StationReport.h"

#include <QList>
#include <systemd/sd-journal.h>
#include <syslog.h>

namespace {

class JournalLines final : public StationView {
public:
    explicit JournalLines(const QList<FixtureOption>& fixtures) : fixtures_(fixtures) {}

    void event(const StationEvent& e, const StationState& state) override
    {
        const QByteArray text = StationText::eventText(e, state.recipe()).toUtf8();
        const QByteArray fixture = fixtures_[e.fixture].name.toUtf8();
        const int priority = e.kind == EventKind::Halted                                  ? LOG_ERR
                             : e.kind == EventKind::Result && e.result != QStringLiteral("pass") ? LOG_WARNING
                                                                                                 : LOG_INFO;
        sd_journal_send("MESSAGE=[%s]%s %s", fixture.constData(),
                        e.unit > 0 ? QByteArray(" unit " + QByteArray::number(e.unit)).constData() : "",
                        text.constData(), "PRIORITY=%i", priority, "FIXTURE=%s", fixture.constData(),
                        "UNIT_NUMBER=%lld", static_cast<long long>(e.unit), "RESULT=%s", e.result.toUtf8().constData(),
                        nullptr);
    }

    void end(const StationState& state) override
    {
        sd_journal_send("MESSAGE=%s", StationText::totals(state.tally).toUtf8().constData(), "PRIORITY=%i", LOG_INFO,
                        nullptr);
    }

private:
    QList<FixtureOption> fixtures_;
};

}  // namespace

std::unique_ptr<StationView> makeJournalLines(const QList<FixtureOption>& fixtures)
{
    return std::make_unique<JournalLines>(fixtures);
}
