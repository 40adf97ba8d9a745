// Barcode scanners: a keyboard scanner's recorded key streams decoded, its
// grab, a serial scanner on a pseudo-terminal that vanishes and comes back,
// scans routed among fixtures, and what the recipe says a serial is.

#include "Pty.h"
#include "station/scan/ScannerReader.h"
#include "station/scan/Scanners.h"
#include "station/Recipe.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <termios.h>

namespace {

// A recorded stream: keys pressed and released 4 ms apart, as scanners type.
struct Stream {
    std::vector<input_event> events;
    double t = 100;
    Stream& key(unsigned code, int value)
    {
        input_event e{};
        e.input_event_sec = long(t);
        e.input_event_usec = long((t - double(long(t))) * 1e6);
        e.type = EV_KEY;
        e.code = code;
        e.value = value;
        events.push_back(e);
        t += 0.004;
        return *this;
    }
    Stream& tap(unsigned code) { return key(code, 1).key(code, 0); }
    Stream& with(unsigned modifier, std::initializer_list<unsigned> codes)
    {
        key(modifier, 1);
        for (unsigned c : codes)
            tap(c);
        return key(modifier, 0);
    }
    Stream& taps(std::initializer_list<unsigned> codes)
    {
        for (unsigned c : codes)
            tap(c);
        return *this;
    }
    Stream& enter() { return tap(KEY_ENTER); }
    Stream& pause(double s)
    {
        t += s;
        return *this;
    }
};

// "text" or "text|why" for each scan.
QStringList decoded(const std::vector<input_event>& events)
{
    KeyboardDecoder decoder;
    QStringList out;
    for (const input_event& e : events)
        if (const auto line = decoder.feed(e))
            out << (line->problem.isEmpty() ? line->text : line->text + u'|' + line->problem);
    return out;
}

class RecordedKeys final : public KeyEventSource {
public:
    RecordedKeys(std::vector<input_event> events, bool& grabbed, bool grabFails)
        : events_(std::move(events)), grabbed_(grabbed), grabFails_(grabFails)
    {
    }
    int fd() const override { return -1; }
    void grab() override
    {
        if (grabFails_)
            throw ScannerLost("/dev/input/event7 cannot be grabbed (another program holds it)");
        grabbed_ = true;
    }
    Read next(input_event& event) override
    {
        if (next_ >= events_.size())
            return Read::Empty;
        event = events_[next_++];
        return Read::Event;
    }

private:
    std::vector<input_event> events_;
    size_t next_ = 0;
    bool& grabbed_;
    bool grabFails_;
};

template <typename Done>
bool within(int ms, Done done)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }
    return true;
}

}  // namespace

class ScannersTest : public QObject {
    Q_OBJECT
private slots:
    void keyboardStreams();
    void keyboardScannerGrabbedOrHalted();
    void serialScannerOnPseudoTerminal();
    void oneScannerForSeveralFixtures();
    void serialRule_data();
    void serialRule();
};

void ScannersTest::keyboardStreams()
{
    const unsigned shift = KEY_LEFTSHIFT;
    const struct {
        const char* name;
        Stream stream;
        QStringList expected;
    } cases[] = {
        {"US letters and digits", Stream().with(shift, {KEY_S, KEY_N}).taps({KEY_0, KEY_0, KEY_4, KEY_7}).enter(),
         {"SN0047"}},
        {"shifted characters", Stream().with(KEY_RIGHTSHIFT, {KEY_1, KEY_MINUS, KEY_APOSTROPHE, KEY_SLASH}).taps({KEY_A, KEY_EQUAL}).enter(),
         {"!_\"?a="}},
        {"caps lock is taken as off", Stream().tap(KEY_CAPSLOCK).taps({KEY_A, KEY_B}).enter(), {"ab"}},
        {"GS as Ctrl+]", Stream().taps({KEY_0, KEY_1}).with(KEY_LEFTCTRL, {KEY_RIGHTBRACE}).taps({KEY_2, KEY_1}).enter(),
         {QStringLiteral("01\x1d" "21")}},
        {"GS as Alt and the keypad", Stream().tap(KEY_1).with(KEY_LEFTALT, {KEY_KP0, KEY_KP0, KEY_KP2, KEY_KP9}).tap(KEY_2).tap(KEY_KPENTER),
         {QStringLiteral("1\x1d" "2")}},
        {"AIM prefix taken off", Stream().tap(KEY_RIGHTBRACE).with(shift, {KEY_C}).taps({KEY_1, KEY_4, KEY_2}).enter()
                                     .tap(KEY_RIGHTBRACE).taps({KEY_D, KEY_2, KEY_0, KEY_1}).enter(),
         {"42", "01"}},
        {"a ] that is data stays", Stream().taps({KEY_RIGHTBRACE, KEY_A, KEY_B}).enter(), {"]ab"}},
        {"cut short by another key", Stream().taps({KEY_A, KEY_B}).tap(KEY_ESC).taps({KEY_C, KEY_D}).enter(),
         {"ab|a scan cut short by KEY_ESC", "cd"}},
        {"cut short by a pause", Stream().taps({KEY_A, KEY_B}).pause(2).taps({KEY_C}).enter(),
         {"ab|a scan cut short by a pause of 2.0 s", "c"}},
        {"Enter alone is no scan", Stream().enter().enter(), {}},
    };
    for (const auto& c : cases)
        QVERIFY2(decoded(c.stream.events) == c.expected,
                 qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(c.name), decoded(c.stream.events).join(u','))));
}

void ScannersTest::keyboardScannerGrabbedOrHalted()
{
    bool grabbed = false;
    KeyboardScannerPort port(std::make_unique<RecordedKeys>(Stream().with(KEY_LEFTSHIFT, {KEY_X}).tap(KEY_7).enter().events,
                                                            grabbed, false));
    QVERIFY(grabbed);
    const auto scans = port.readScans();
    QCOMPARE(scans.size(), size_t(1));
    QCOMPARE(scans[0].text, QStringLiteral("X7"));

    // One that cannot be taken at start halts its fixture, saying why.
    auto clock = makeSteadyClock();
    FixtureOption a{QStringLiteral("A"), QStringLiteral("/dev/rv7k-a"), {}, QStringLiteral("/dev/input/event7")};
    Scanners scanners({a}, *clock, [&](const QString&) -> std::unique_ptr<ScannerPort> {
        return std::make_unique<KeyboardScannerPort>(std::make_unique<RecordedKeys>(std::vector<input_event>{}, grabbed, true));
    });
    QCOMPARE(scanners.start(), 0);
    const ScannerStatus status = scanners.inbox(0)->status();
    QCOMPARE(status.state, ScannerState::Halted);
    QVERIFY2(status.reason.contains(QStringLiteral("another program holds it")), qPrintable(status.reason));
}

void ScannersTest::serialScannerOnPseudoTerminal()
{
    // The scanner is known by a link, as udev names it; it vanishes and
    // comes back on another terminal under the same name.
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("scanner-a"));
    auto pty = std::make_unique<Pty>();
    QVERIFY(pty->isValid());
    QVERIFY(QFile::link(pty->slavePath(), link));
    auto clock = makeSteadyClock();
    FixtureOption a{QStringLiteral("A"), QStringLiteral("/dev/rv7k-a"), {}, link, QStringLiteral("19200,n,8,2")};
    Scanners scanners({a}, *clock);
    ScanInbox& inbox = *scanners.inbox(0);
    QCOMPARE(scanners.start(), 1);
    termios tio{};
    QCOMPARE(::tcgetattr(pty->masterFd(), &tio), 0);
    QCOMPARE(::cfgetispeed(&tio), speed_t(B19200));
    // A pseudo-terminal keeps 8 bits and no parity whatever it is told.
    QCOMPARE(tio.c_cflag & CSTOPB, tcflag_t(CSTOPB));
    QCOMPARE(tio.c_lflag & (ICANON | ECHO), tcflag_t(0));

    const double before = clock->now();
    pty->send("SN000001\rSN000002\nSN0000");
    pty->send("03\r\n]C1SN000004\r\n");
    QStringList got;
    bool stamped = true;
    QVERIFY(within(5000, [&] {
        while (auto scan = inbox.take()) {
            stamped = stamped && scan->at >= before;
            got << scan->text + scan->refusal;
        }
        return got.size() >= 4;
    }));
    QVERIFY(stamped);
    QCOMPARE(got, (QStringList{"SN000001", "SN000002", "SN000003", "SN000004"}));

    const int changes = inbox.status().changes;
    pty.reset();
    QFile::remove(link);
    QVERIFY(within(5000, [&] { return inbox.status().state == ScannerState::Gone; }));
    pty = std::make_unique<Pty>();
    QVERIFY(QFile::link(pty->slavePath(), link));
    QVERIFY(within(10000, [&] { return inbox.status().state == ScannerState::Ok; }));
    QCOMPARE(inbox.status().changes, changes + 2);
    pty->send("SN000005\r");
    std::optional<Scan> back;
    QVERIFY(within(5000, [&] { return bool(back = inbox.take()); }));
    QCOMPARE(back->text, QStringLiteral("SN000005"));
    scanners.stop();
}

void ScannersTest::oneScannerForSeveralFixtures()
{
    ScanInbox a, b;
    ScanRouter router({{QStringLiteral("A"), &a}, {QStringLiteral("B"), &b}});
    router.deliver(QStringLiteral("FIXTURE:B"), 1);
    router.deliver(QStringLiteral("SN000001"), 2);
    router.deliver(QStringLiteral("SN000002"), 3);  // no fixture chosen for it
    router.deliver(QStringLiteral("FIXTURE:C"), 4);
    router.deliver(QStringLiteral("FIXTURE:A"), 5);
    router.deliver(QStringLiteral("SN000003"), 6);

    const auto first = b.take();
    QVERIFY(first && first->text == QStringLiteral("SN000001") && first->refusal.isEmpty() && first->at == 2);
    for (ScanInbox* inbox : {&a, &b}) {
        const auto unrouted = inbox->take();
        QVERIFY(unrouted && unrouted->text == QStringLiteral("SN000002"));
        QCOMPARE(unrouted->refusal, QStringLiteral("SN000002 was scanned without a fixture's barcode first "
                                                   "(FIXTURE:A or FIXTURE:B, then the unit)"));
        const auto unknown = inbox->take();
        QVERIFY(unknown && unknown->refusal == QStringLiteral("this scanner serves no fixture C"));
    }
    const auto third = a.take();
    QVERIFY(third && third->text == QStringLiteral("SN000003") && third->refusal.isEmpty());
    QVERIFY(!a.pending() && !b.pending());
}

void ScannersTest::serialRule_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("check");
    QTest::addColumn<QString>("scan");
    QTest::addColumn<QString>("refusal");  // empty: a serial
    QTest::newRow("no table: printable") << "" << "" << "SN 0047/a" << "";
    QTest::newRow("no table: GS kept") << "" << "" << "01\x1d" "21" << "";
    QTest::newRow("no table: empty") << "" << "" << "" << "an empty scan is no serial";
    QTest::newRow("no table: tab") << "" << "" << "SN\t1" << "SN<09>1 holds a character that is not printable (code 9)";
    QTest::newRow("pattern") << "^SN[0-9]{6}$" << "" << "SN004711" << "";
    QTest::newRow("pattern, too short") << "^SN[0-9]{6}$" << "" << "SN00471" << "SN00471 does not match ^SN[0-9]{6}$";
    QTest::newRow("pattern anchored") << "SN[0-9]{6}" << "" << "XSN004711" << "XSN004711 does not match SN[0-9]{6}";
    QTest::newRow("gs1 GTIN-13") << "" << "gs1" << "4006381333931" << "";
    QTest::newRow("gs1 SSCC") << "" << "gs1" << "106141411234567897" << "";
    QTest::newRow("gs1 wrong") << "" << "gs1" << "4006381333937" << "check digit 7 should be 1";
    QTest::newRow("gs1 letters") << "" << "gs1" << "SN1" << "SN1 is not a number of digits, so it has no GS1 check digit";
    QTest::newRow("luhn") << "" << "luhn" << "79927398713" << "";
    QTest::newRow("luhn wrong") << "" << "luhn" << "79927398710" << "check digit 0 should be 3";
}

void ScannersTest::serialRule()
{
    QFETCH(QString, pattern);
    QFETCH(QString, check);
    QFETCH(QString, scan);
    QFETCH(QString, refusal);
    // As the recipe gives it.
    QTemporaryDir dir;
    QFile label(dir.filePath(QStringLiteral("a.epl"))), recipe(dir.filePath(QStringLiteral("r.toml")));
    QVERIFY(label.open(QIODevice::WriteOnly) && label.write("x") == 1 && recipe.open(QIODevice::WriteOnly));
    label.close();
    QString text = QStringLiteral("name = \"r\"\n[[label]]\nslot = 1\nfile = \"a.epl\"\n");
    if (!pattern.isEmpty() || !check.isEmpty())
        text += QStringLiteral("[serial]\n");
    if (!pattern.isEmpty())
        text += QStringLiteral("pattern = '%1'\n").arg(pattern);
    if (!check.isEmpty())
        text += QStringLiteral("check = \"%1\"\n").arg(check);
    recipe.write(text.toUtf8());
    recipe.close();
    QCOMPARE(loadRecipe(recipe.fileName()).serial.refusal(scan).value_or(QString()), refusal);
}

QTEST_GUILESS_MAIN(ScannersTest)
#include "tst_scanners.moc"
