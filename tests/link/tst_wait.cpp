// The timed wait: never early, ends at the first reading strictly past the
// deadline, and sleeps instead of spinning for all but the end.

#include "link/Wait.h"

#include <QTest>
#include <chrono>
#include <vector>

namespace {

// A clock that advances one resolution step per reading, and whose sleeps can
// wake early or late by a chosen amount.
class SteppingClock final : public Clock {
public:
    SteppingClock(double start, double step, double sleepError) : t_(start), step_(step), sleepError_(sleepError) {}
    double now() override
    {
        const double reading = t_;
        readings.push_back(reading);
        t_ += step_;
        return reading;
    }
    void sleepFor(double seconds) override
    {
        slept += seconds;
        t_ += std::max(0.0, seconds + sleepError_);
    }
    void waitDone(double asked, double, double) override { waits.push_back(asked); }

    std::vector<double> readings;
    std::vector<double> waits;
    double slept = 0;

private:
    double t_;
    double step_;
    double sleepError_;
};

// Readings that stand still until moved, to put one exactly on the deadline.
class ScriptedClock final : public Clock {
public:
    explicit ScriptedClock(std::vector<double> readings) : readings_(std::move(readings)) {}
    double now() override { return readings_.at(next_++); }
    void sleepFor(double) override {}
    size_t used() const { return next_; }

private:
    std::vector<double> readings_;
    size_t next_ = 0;
};

}  // namespace

class WaitTest : public QObject {
    Q_OBJECT

private slots:
    void endsAtFirstReadingStrictlyPastDeadline();
    void neverEarlyWhateverTheSleepsDo();
    void mostOfTheWaitIsSlept();
    void realClockNeverReturnsEarly();
};

void WaitTest::endsAtFirstReadingStrictlyPastDeadline()
{
    // A reading equal to start + wait is not past it.
    ScriptedClock clock({10.0, 10.5, 11.0, 11.0, 11.25, 12.0});
    QCOMPARE(waitOn(clock, 1.0), 11.25);
    QCOMPARE(clock.used(), size_t(5));
}

void WaitTest::neverEarlyWhateverTheSleepsDo()
{
    for (double sleepError : {-0.004, 0.0, 0.0002, 0.003}) {
        for (double wait : {0.015, 1.0, 1.8, 2.0}) {
            SteppingClock clock(86399.99, 0.00001, sleepError);
            const double end = waitOn(clock, wait);
            const double start = clock.readings.front();
            QVERIFY2(end > start + wait, qPrintable(QStringLiteral("error %1 wait %2").arg(sleepError).arg(wait)));
            // The reading before the last one was not yet past the deadline.
            const double previous = clock.readings[clock.readings.size() - 2];
            QVERIFY(previous <= start + wait);
            QCOMPARE(clock.waits.size(), size_t(1));
            QCOMPARE(clock.waits.front(), wait);
        }
    }
}

void WaitTest::mostOfTheWaitIsSlept()
{
    SteppingClock clock(0.0, 0.000001, 0.0);
    waitOn(clock, 0.015);
    QVERIFY2(clock.slept >= 0.015 - kWaitSpinMargin - 1e-5, qPrintable(QString::number(clock.slept)));
    // It sleeps to the deadline itself: no reading of the clock in a loop.
    QVERIFY2(clock.readings.size() < 10, qPrintable(QString::number(clock.readings.size())));
}

void WaitTest::realClockNeverReturnsEarly()
{
    SteadyClock clock;
    for (int i = 0; i < 200; ++i) {
        const auto before = std::chrono::steady_clock::now();
        waitOn(clock, 0.015);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - before;
        QVERIFY2(took.count() >= 0.015, qPrintable(QString::number(took.count(), 'f', 6)));
    }
}

QTEST_APPLESS_MAIN(WaitTest)
#include "tst_wait.moc"
