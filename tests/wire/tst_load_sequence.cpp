// The shared load sequence in virtual time, with no window and no process:
// the frames and waits of every stage, how many tries each gets, and what
// each way of ending leaves in the slot.

#include "VirtualLink.h"
#include "link/Errors.h"
#include "link/MSComm.h"
#include "wire/LabelFile.h"
#include "wire/LoadSequence.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

using namespace Wire;

namespace {

struct Rig {
    std::shared_ptr<Timeline> timeline = std::make_shared<Timeline>();
    std::shared_ptr<DeviceScript> script = std::make_shared<DeviceScript>();
    VirtualClock clock{timeline};
    MSCommLib::MSComm port{[this](short, const LineSettings&) -> std::unique_ptr<SerialLine> {
        return std::make_unique<VirtualLine>(timeline, script);
    }};
    std::function<void()> stop;

    LoadOutcome load(const Label& label, int slot = 3, int attempts = LoadPolicy{}.attempts, bool readEarly = false)
    {
        LoadPolicy policy;
        policy.attempts = attempts;
        policy.readEarly = readEarly;
        LoadSequence sequence(clock, port, policy, stop);
        return sequence.openAndLoad(QStringLiteral("9600,n,8,1"), slot, label);
    }
};

// The waits asked for, each once per run of equal values: {1.0 x10} -> "1x10".
QString waitRuns(const std::vector<double>& waits)
{
    QStringList runs;
    for (size_t i = 0; i < waits.size();) {
        size_t j = i;
        while (j < waits.size() && waits[j] == waits[i])
            ++j;
        runs << QString::number(waits[i]) + (j - i > 1 ? QStringLiteral("x%1").arg(j - i) : QString());
        i = j;
    }
    return runs.join(u' ');
}

}  // namespace

class LoadSequenceTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString write(const QByteArray& bytes, const QString& name = QStringLiteral("label.bin"))
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(bytes);
        f.close();
        return path;
    }

private slots:
    void loadsWithTheWindowsFramesAndWaits();
    void eachStageEndsAsItShould_data();
    void eachStageEndsAsItShould();
    void aChangedFileIsRefusedWheneverNoticedBeforeData_data();
    void aChangedFileIsRefusedWheneverNoticedBeforeData();
    void aFileRewrittenMidStreamNeverGetsItsEnd_data();
    void aFileRewrittenMidStreamNeverGetsItsEnd();
    void heldBytesGoOutWhateverTheDiskSays();
    void aStopEndsBeforeTheNextFrame();
    void answersReadAsTheyArriveNeverCutAWaitShort();
};

void LoadSequenceTest::loadsWithTheWindowsFramesAndWaits()
{
    Rig rig;
    const LabelFileFacts facts = checkLabelFile(write("abc"));
    const LoadOutcome out = rig.load(Label{facts, std::nullopt});
    QCOMPARE(rig.timeline->payloads(),
             QStringList({"S", "#Externl3.ejf#", "%3#", "97", "98", "99", "#File#", "#End#"}));
    QCOMPARE(waitRuns(rig.timeline->waits()), QStringLiteral("1 2 1x2 0.015x3 1.8"));
    QCOMPARE(rig.script->drains, 1);
    QCOMPARE(out.exitStatus, ExitStatus::Loaded);
    QCOMPARE(out.slot, SlotState::Loaded);
    QCOMPARE(out.stage, Stage::Done);
    QCOMPARE(out.dataSent, 3);
    QVERIFY(out.endSent && out.released);
    QCOMPARE(out.replies, QStringList({"S", "D", "U", "T"}));
    QCOMPARE(out.sha256, QCryptographicHash::hash("abc", QCryptographicHash::Sha256).toHex());
    QVERIFY(!rig.port.PortOpen());
}

void LoadSequenceTest::eachStageEndsAsItShould_data()
{
    QTest::addColumn<QString>("kind");   // the command the device answers wrongly
    QTest::addColumn<QString>("reply");  // what it answers instead
    QTest::addColumn<int>("failAfterWrites");
    QTest::addColumn<int>("stuck");  // bytes the device never takes
    QTest::addColumn<int>("attempts");
    QTest::addColumn<QString>("waits");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("slot");
    QTest::addColumn<QString>("error");
    const QString tenPolls = QStringLiteral("1x10");
    QTest::newRow("silent") << "poll" << "" << 0 << 0 << 10 << tenPolls << ExitStatus::NoAnswer << int(SlotState::Untouched)
                            << "no answer to 10 polls";
    QTest::newRow("lower case") << "poll" << "s" << 0 << 0 << 10 << tenPolls << ExitStatus::NoAnswer
                                << int(SlotState::Untouched) << "the device answered \"s\" to 10 polls";
    QTest::newRow("a NUL and a byte over 127") << "poll" << QString::fromLatin1("s\0\xe9t", 4) << 0 << 0 << 10 << tenPolls
                                               << ExitStatus::NoAnswer << int(SlotState::Untouched)
                                               << "the device answered \"s\\x00\\xe9t\" to 10 polls";
    QTest::newRow("name refused") << "name" << "X" << 0 << 0 << 10 << "1 " + QStringList(10, "2").join(" 0.3 ")
                                  << ExitStatus::NotAcknowledged << int(SlotState::Untouched)
                                  << "the slot name Externl3.ejf was not taken after 10 tries";
    QTest::newRow("length refused") << "length" << "" << 0 << 0 << 3 << "1 2 " + QStringList(3, "1").join(" 0.3 ")
                                    << ExitStatus::NotAcknowledged << int(SlotState::Untouched)
                                    << "the length 3 was not taken after 3 tries";
    QTest::newRow("line lost mid-stream") << "" << "" << 4 << 0 << 10 << "1 2 1x2 0.015"
                                          << ExitStatus::Incomplete << int(SlotState::Incomplete)
                                          << "1 of 3 bytes sent; the slot holds an incomplete file";
    QTest::newRow("device stopped taking data")
        << "" << "" << 0 << 9 << 10 << "1 2 1x2 0.015x3" << ExitStatus::Incomplete << int(SlotState::Incomplete)
        << "the device stopped taking data; at most 2 of 3 bytes reached the device; 9 bytes still queued";
    QTest::newRow("no release") << "end" << "" << 0 << 0 << 10 << "1 2 1x2 0.015x3 " + QStringList(10, "1.8").join(" 0.1 ")
                                << ExitStatus::NotReleased << int(SlotState::Written)
                                << "the release was not confirmed after 10 tries";
}

void LoadSequenceTest::eachStageEndsAsItShould()
{
    QFETCH(QString, kind);
    QFETCH(QString, reply);
    QFETCH(int, failAfterWrites);
    QFETCH(int, stuck);
    QFETCH(int, attempts);
    QFETCH(QString, waits);
    QFETCH(int, status);
    QFETCH(int, slot);
    QFETCH(QString, error);
    Rig rig;
    if (!kind.isEmpty())
        rig.script->replies[kind] = reply;
    rig.script->failAfterWrites = failAfterWrites;
    rig.script->stuckAfterDrain = stuck;
    const LoadOutcome out = rig.load(Label{checkLabelFile(write("abc")), std::nullopt}, 3, attempts);
    QCOMPARE(waitRuns(rig.timeline->waits()), waits);
    QCOMPARE(rig.script->stuckAfterDrain, 0);  // what the device did not take is dropped, never sent later
    QCOMPARE(out.exitStatus, status);
    QCOMPARE(int(out.slot), slot);
    QVERIFY2(out.error.contains(error), qPrintable(out.error));
    QVERIFY(!out.released);
}

void LoadSequenceTest::aChangedFileIsRefusedWheneverNoticedBeforeData_data()
{
    QTest::addColumn<QByteArray>("changedAfter");  // the frame after which the file changes
    QTest::addColumn<int>("frames");               // frames the device sees in all
    QTest::newRow("after the poll") << QByteArray("S") << 1;
    QTest::newRow("after the slot name") << QByteArray("#Externl3.ejf#") << 2;
    QTest::newRow("after the length") << QByteArray("%3#") << 3;
}

void LoadSequenceTest::aChangedFileIsRefusedWheneverNoticedBeforeData()
{
    QFETCH(QByteArray, changedAfter);
    QFETCH(int, frames);
    Rig rig;
    const LabelFileFacts facts = checkLabelFile(write("abc"));
    rig.script->onFrame = [&](const QByteArray& payload) {
        if (payload == changedAfter)
            write("abcd");
    };
    const LoadOutcome out = rig.load(Label{facts, std::nullopt});
    QCOMPARE(out.exitStatus, ExitStatus::FileRefused);
    QCOMPARE(out.slot, SlotState::Untouched);
    QCOMPARE(out.dataSent, 0);
    QCOMPARE(rig.timeline->payloads().size(), frames);
}

void LoadSequenceTest::aFileRewrittenMidStreamNeverGetsItsEnd_data()
{
    QTest::addColumn<bool>("timesPutBack");
    QTest::newRow("another modification time") << false;
    QTest::newRow("times put back") << true;
}

void LoadSequenceTest::aFileRewrittenMidStreamNeverGetsItsEnd()
{
    QFETCH(bool, timesPutBack);
    Rig rig;
    const QString path = write("abcdef");
    const LabelFileFacts facts = checkLabelFile(path);
    rig.script->onFrame = [&](const QByteArray& payload) {
        if (payload != "98")
            return;
        write("abXdef");  // same size, in place
        const qint64 mtime = facts.modifiedNs + (timesPutBack ? 0 : 1000000000);
        const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(mtime / 1000000000), long(mtime % 1000000000)}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    };
    const LoadOutcome out = rig.load(Label{facts, std::nullopt});
    QCOMPARE(out.exitStatus, ExitStatus::Incomplete);
    QVERIFY(!out.endSent && !rig.timeline->payloads().contains(QStringLiteral("#File#")));
    if (!timesPutBack)
        QCOMPARE(out.dataSent, 2);  // noticed before the next frame
    // The identity alone, whatever the clock's grain: the modification time is part of it.
    LabelFileFacts touched = facts;
    touched.modifiedNs += 1;
    QVERIFY(!touched.sameAs(facts));
}

void LoadSequenceTest::heldBytesGoOutWhateverTheDiskSays()
{
    Rig rig;
    const QString path = write("abc");
    const LabelFileFacts facts = checkLabelFile(path);
    QFile::remove(path);
    const LoadOutcome out = rig.load(Label{facts, QByteArray("\xff\x00", 2)}, 1);
    QCOMPARE(out.exitStatus, ExitStatus::Loaded);
    QCOMPARE(rig.timeline->payloads().mid(1, 5), QStringList({"#Externl1.ejf#", "%2#", "255", "0", "#File#"}));
}

void LoadSequenceTest::aStopEndsBeforeTheNextFrame()
{
    Rig rig;
    int frames = 0;
    rig.script->onFrame = [&](const QByteArray&) { ++frames; };
    rig.stop = [&] {
        if (frames >= 4)
            throw Stopped{143, QStringLiteral("stopped by SIGTERM")};
    };
    const LoadOutcome out = rig.load(Label{checkLabelFile(write("abc")), std::nullopt});
    QCOMPARE(frames, 4);  // poll, slot name, length, one data byte
    QVERIFY(out.stopped);
    QCOMPARE(out.exitStatus, 143);
    QCOMPARE(out.result(), QStringLiteral("interrupted"));
    QCOMPARE(out.slot, SlotState::Incomplete);
    QVERIFY(!rig.port.PortOpen());
}

void LoadSequenceTest::answersReadAsTheyArriveNeverCutAWaitShort()
{
    const LabelFileFacts facts = checkLabelFile(write("abc"));
    {
        Rig rig;
        const double start = rig.timeline->now;
        QVERIFY(rig.load(Label{facts, std::nullopt}, 3, 10, true).loaded());
        QCOMPARE(rig.timeline->payloads(), QStringList({"S", "#Externl3.ejf#", "%3#", "97", "98", "99", "#File#", "#End#"}));
        // Four answered stages and the stream's own second: not the 5.8 s of fixed waits.
        QVERIFY2(rig.timeline->now - start < 1.3, qPrintable(QString::number(rig.timeline->now - start)));
    }
    {
        Rig rig;
        rig.script->replies[QStringLiteral("name")] = QString();
        const double start = rig.timeline->now;
        const LoadOutcome out = rig.load(Label{facts, std::nullopt}, 3, 3, true);
        QCOMPARE(out.exitStatus, ExitStatus::NotAcknowledged);
        // Three unanswered names, each waited for its whole 2 s.
        QVERIFY(rig.timeline->now - start >= 3 * 2.0 + 2 * 0.3);
    }
}

QTEST_GUILESS_MAIN(LoadSequenceTest)
#include "tst_load_sequence.moc"
