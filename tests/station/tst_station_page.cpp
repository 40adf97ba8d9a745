// pelmora-station's page while emulated fixtures load units: what a real
// browser shows, and what hostile clients get.

#include "EmulatorProcess.h"
#include "HeadlessBrowser.h"
#include "ledger/LocalLedger.h"
#include "ledger/RecordText.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <memory>

namespace {

struct Reply {
    int status = 0;
    QByteArray head, body;
};

// Reads one response; HEAD's has no body.
bool readReply(QTcpSocket& s, Reply& r, bool head = false)
{
    QByteArray in;
    qsizetype end = -1;
    while ((end = in.indexOf("\r\n\r\n")) < 0) {
        if (!s.bytesAvailable() && !s.waitForReadyRead(10000))
            return false;
        in += s.readAll();
    }
    r.head = in.left(end);
    r.status = r.head.mid(9, 3).toInt();
    const QRegularExpressionMatch length = QRegularExpression(QStringLiteral("(?i)content-length: *(\\d+)")).match(QString::fromLatin1(r.head));
    const qsizetype want = head || !length.hasMatch() ? 0 : length.captured(1).toLongLong();
    r.body = in.mid(end + 4);
    while (r.body.size() < want) {
        if (!s.bytesAvailable() && !s.waitForReadyRead(10000))
            return false;
        r.body += s.readAll();
    }
    return true;
}

// One request on a connection of its own.
Reply exchange(quint16 port, const QByteArray& request)
{
    QTcpSocket s;
    s.connectToHost(QStringLiteral("127.0.0.1"), port);
    Reply r;
    if (s.waitForConnected(10000)) {
        s.write(request);
        readReply(s, r, request.startsWith("HEAD"));
    }
    return r;
}

QByteArray get(const char* path)
{
    return QByteArray("GET ") + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

struct Tile {
    QString state, text;
};

// Each fixture's tile as the browser drew it.
QMap<QString, Tile> tiles(const QByteArray& dom)
{
    QMap<QString, Tile> out;
    static const QRegularExpression tile(
        QStringLiteral("<article class=\"tile [A-Z]+\" data-fixture=\"([^\"]*)\" data-state=\"([A-Z]+)\">(.*?)</article>"));
    static const QRegularExpression tag(QStringLiteral("<[^>]*>"));
    for (const QRegularExpressionMatch& m : tile.globalMatch(QString::fromUtf8(dom)))
        out[m.captured(1)] = {m.captured(2), m.captured(3).replace(tag, QStringLiteral(" ")).simplified()};
    return out;
}

// The cells of a row of the totals table.
QStringList row(const QByteArray& dom, const QString& id)
{
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("<tr id=\"%1\">(.*?)</tr>").arg(id)).match(QString::fromUtf8(dom));
    QStringList cells;
    for (const QRegularExpressionMatch& c : QRegularExpression(QStringLiteral("<td>([^<]*)</td>")).globalMatch(m.captured(1)))
        cells << c.captured(1);
    return cells;
}

// An event of the station's JSON Lines about a fixture.
std::function<bool(const QJsonObject&)> about(const char* name, const QString& fixture)
{
    return [name, fixture](const QJsonObject& e) {
        return e[QStringLiteral("event")] == QLatin1String(name) && e[QStringLiteral("fixture")] == fixture;
    };
}

QByteArray read(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

}  // namespace

class StationPageTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QByteArray ship, inner;
    QString recipe;

    // A station with its page on a free port, and its events as they come.
    struct Station {
        QProcess p;
        QByteArray out, err;
        QList<QJsonObject> events;
        quint16 port = 0;
        QString url(const char* path = "/") const { return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(QLatin1String(path)); }

        void take()
        {
            out += p.readAllStandardOutput();
            err += p.readAllStandardError();
            for (qsizetype nl; (nl = out.indexOf('\n')) >= 0; out.remove(0, nl + 1))
                events << QJsonDocument::fromJson(out.left(nl)).object();
        }
        // The first event that pred holds for, waiting up to timeoutMs.
        std::optional<QJsonObject> waitFor(const std::function<bool(const QJsonObject&)>& pred, int timeoutMs = 60000)
        {
            QDeadlineTimer deadline(timeoutMs);
            for (;;) {
                take();
                for (const QJsonObject& e : events)
                    if (pred(e))
                        return e;
                if (deadline.hasExpired() || p.state() == QProcess::NotRunning)
                    return std::nullopt;
                p.waitForReadyRead(200);
            }
        }
        std::optional<QJsonObject> waitFor(const char* name, const QString& fixture)
        {
            return waitFor(about(name, fixture));
        }
        int count(const char* event) const
        {
            return int(std::count_if(events.cbegin(), events.cend(), [&](const QJsonObject& e) {
                return e[QStringLiteral("event")] == QLatin1String(event);
            }));
        }
    };

    QString ledgerPath() const { return dir.filePath(QLatin1String(QTest::currentTestFunction()) + QStringLiteral(".sqlite")); }

    bool start(Station& s, const QStringList& args)
    {
        s.p.start(qEnvironmentVariable("PELMORA_BIN_DIR") + QStringLiteral("/pelmora-station"),
                  QStringList{QStringLiteral("--json"), QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                              QStringLiteral("--recipe"), recipe, QStringLiteral("--ledger"), ledgerPath()}
                      + args);
        static const QRegularExpression said(QStringLiteral("the page is at http://127\\.0\\.0\\.1:(\\d+)/"));
        QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired() && s.p.state() != QProcess::NotRunning) {
            s.p.waitForReadyRead(200);
            s.take();
            const QRegularExpressionMatch m = said.match(QString::fromLocal8Bit(s.err));
            if (m.hasMatch()) {
                s.port = quint16(m.captured(1).toUInt());
                return true;
            }
        }
        qWarning("%s", s.err.constData());
        return false;
    }

    static QByteArray ledgerCommand(const QStringList& args)
    {
        QProcess p;
        p.start(qEnvironmentVariable("PELMORA_BIN_DIR") + QStringLiteral("/pelmora-ledger"), args);
        p.waitForFinished(30000);
        return p.readAllStandardOutput();
    }

    static void stop(Station& s)
    {
        ::kill(pid_t(s.p.processId()), SIGTERM);
        s.p.waitForFinished(20000);
    }

private slots:
    void initTestCase();
    void verdictsStayInTheBrowser();
    void hostileClientsWhileUnitsLoad();
    void addressInUseIsRefused();
};

void StationPageTest::initTestCase()
{
    for (int i = 0; i < 24; ++i)
        ship += char((i * 37 + 11) & 0xff);
    inner = QByteArray("inner label\r\n\x00\xff", 15);
    for (const auto& [name, bytes] : {std::pair{"ship.epl", &ship}, {"inner.epl", &inner}}) {
        QFile f(dir.filePath(QLatin1String(name)));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(*bytes);
    }
    recipe = dir.filePath(QStringLiteral("recipe.toml"));
    QFile r(recipe);
    QVERIFY(r.open(QIODevice::WriteOnly));
    r.write("name = \"line 7, rev C\"\n[[label]]\nslot = 1\nfile = \"ship.epl\"\n[[label]]\nslot = 3\nfile = \"inner.epl\"\n");
}

void StationPageTest::verdictsStayInTheBrowser()
{
    // "pass" passes two units with a pause between; "fail" fails its second
    // label (a while after "pass" took its first unit out) and is left in;
    // "third" passes two units.
    EmulatorProcess pass, fail, third;
    QVERIFY(pass.start({QStringLiteral("--units"), QStringLiteral("2"), QStringLiteral("--present"), QStringLiteral("4"),
                        QStringLiteral("--absent"), QStringLiteral("5")}));
    QVERIFY(fail.start({QStringLiteral("--units"), QStringLiteral("1"), QStringLiteral("--present"), QStringLiteral("12"),
                        QStringLiteral("--refuse-length-in"), QStringLiteral("Externl3.ejf")}));
    QVERIFY(third.start({QStringLiteral("--units"), QStringLiteral("2"), QStringLiteral("--present"), QStringLiteral("5"),
                         QStringLiteral("--absent"), QStringLiteral("3")}));
    Station s;
    QVERIFY(start(s, {QStringLiteral("--gone-after"), QStringLiteral("2"), QStringLiteral("--fixture"),
                      QStringLiteral("pass=") + pass.ptyPath(), QStringLiteral("--fixture"),
                      QStringLiteral("fail=") + fail.ptyPath(), QStringLiteral("--fixture"),
                      QStringLiteral("third=") + third.ptyPath()}));
    HeadlessBrowser browser;
    // Each look is only taken for true if what it waits for did not change meanwhile.
    const auto notYet = [&](const std::function<bool(const QJsonObject&)>& event) {
        return !s.waitFor(event, 0).has_value();
    };

    // A passed unit taken out: PASS stays until the next unit starts.
    const auto passGone = s.waitFor("gone", QStringLiteral("pass"));
    QVERIFY(passGone);
    const qint64 passed = (*passGone)[QStringLiteral("unit")].toInteger();
    const std::function<bool(const QJsonObject&)> nextArrived = [&](const QJsonObject& e) {
        return about("arrived", QStringLiteral("pass"))(e) && e[QStringLiteral("unit")].toInteger() > passed;
    };
    QByteArray dom = browser.dumpDom(s.url());
    QVERIFY2(!dom.isEmpty(), qPrintable(browser.errorString()));
    QVERIFY2(notYet(nextArrived), "the next unit came too soon to tell");
    Tile t = tiles(dom).value(QStringLiteral("pass"));
    QCOMPARE(t.state, QStringLiteral("PASS"));
    QVERIFY2(t.text.contains(QStringLiteral("unit %1").arg(passed)), qPrintable(t.text));

    // The next unit starts: the old PASS gives way.
    const auto next = s.waitFor(nextArrived);
    QVERIFY(next);
    t = tiles(browser.dumpDom(s.url())).value(QStringLiteral("pass"));
    QCOMPARE(t.state, QStringLiteral("LOADING"));
    QVERIFY2(t.text.contains(QStringLiteral("unit %1").arg((*next)[QStringLiteral("unit")].toInteger())), qPrintable(t.text));

    // A failed unit still in its fixture: FAIL, why, and what to do.
    const auto failed = s.waitFor("result", QStringLiteral("fail"));
    QVERIFY(failed);
    t = tiles(browser.dumpDom(s.url())).value(QStringLiteral("fail"));
    // The page at both sizes, as an operator would see it now.
    for (const QSize size : {QSize(1366, 768), QSize(390, 844)}) {
        const QString png = QStringLiteral("page-%1x%2.png").arg(size.width()).arg(size.height());
        QVERIFY2(browser.screenshot(s.url(), png, size), qPrintable(browser.errorString()));
        QCOMPARE(QImage(png).size(), size);
    }
    QVERIFY2(notYet(about("gone", QStringLiteral("fail"))), "the failed unit left too soon to tell");
    QCOMPARE(t.state, QStringLiteral("FAIL"));
    QVERIFY2(t.text.contains((*failed)[QStringLiteral("why")].toString()) && t.text.contains(QStringLiteral("TAKE THE UNIT OUT")),
             qPrintable(t.text));

    // The failed unit taken out: its FAIL gives way.
    QVERIFY(s.waitFor("gone", QStringLiteral("fail")));
    QCOMPARE(tiles(browser.dumpDom(s.url())).value(QStringLiteral("fail")).state, QStringLiteral("WAITING"));

    // Every unit ended: the page's totals are the ledger's, its CSV the export's.
    QVERIFY(s.waitFor([&](const QJsonObject&) { return s.count("result") >= 5; }, 120000));
    dom = browser.dumpDom(s.url());
    const QStringList run = row(dom, QStringLiteral("run"));
    QCOMPARE(run.mid(0, 3), QStringList({"5", "4", "1"}));
    const QByteArray summary = ledgerCommand({QStringLiteral("--ledger"), ledgerPath(), QStringLiteral("summary")});
    QVERIFY2(summary.startsWith(QStringLiteral("%1 units: %2 passed, %3 failed,").arg(run[0], run[1], run[2]).toUtf8()),
             summary.constData());
    const Reply csv = exchange(s.port, get("/units.csv"));
    QCOMPARE(csv.status, 200);
    QCOMPARE(csv.body, ledgerCommand({QStringLiteral("--ledger"), ledgerPath(), QStringLiteral("export"), QStringLiteral("--csv")}));
    QCOMPARE(csv.body.count("\r\n"), 6);
    // The latest units, newest first, as the ledger keeps them.
    const QJsonArray latest = QJsonDocument::fromJson(exchange(s.port, get("/api/units?limit=2")).body).array();
    const QList<Ledger::UnitRecord> records = Ledger::LocalLedger(ledgerPath()).units();
    QCOMPARE(latest.size(), 2);
    QCOMPARE(latest[0].toObject(), Ledger::toJson(records.last()));
    QCOMPARE(latest[1].toObject(), Ledger::toJson(records[records.size() - 2]));
    QCOMPARE(exchange(s.port, get("/api/units?limit=100000")).status, 400);
    stop(s);
}

void StationPageTest::hostileClientsWhileUnitsLoad()
{
    std::array<EmulatorProcess, 2> fixtures;
    QStringList args{QStringLiteral("--units"), QStringLiteral("4")};
    for (int i = 0; i < 2; ++i) {
        QVERIFY(fixtures[size_t(i)].start({QStringLiteral("--units"), QStringLiteral("2"), QStringLiteral("--present"),
                                           QStringLiteral("3"), QStringLiteral("--absent"), QStringLiteral("2")}));
        args << QStringLiteral("--fixture") << QStringLiteral("f%1=%2").arg(i).arg(fixtures[size_t(i)].ptyPath());
    }
    Station s;
    QVERIFY(start(s, args));
    QVERIFY(s.waitFor([](const QJsonObject& e) { return e[QStringLiteral("event")] == QStringLiteral("label"); }));

    // A 1 MB header is refused, not read.
    Reply r = exchange(s.port, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Big: " + QByteArray(1 << 20, 'a') + "\r\n\r\n");
    QCOMPARE(r.status, 431);
    // No file from disk, however the path is spelt.
    for (const char* path : {"/../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/..%2f..%2fetc%2fpasswd", "/%252e%252e/etc/passwd",
                             "//etc/passwd", "/page.js/../../../../etc/passwd", "/..\\..\\etc\\passwd", "/etc/passwd"}) {
        r = exchange(s.port, get(path));
        QVERIFY2(r.status == 404 && !r.body.contains("root:"), path);
    }
    // Read-only.
    for (const char* method : {"POST", "PUT", "DELETE"}) {
        r = exchange(s.port, QByteArray(method) + " /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 2\r\n\r\n{}");
        QCOMPARE(r.status, 405);
        QVERIFY(r.head.contains("Allow: GET, HEAD"));
    }
    // Nothing the page needs comes from elsewhere.
    for (const char* path : {"/", "/page.js", "/page.css"}) {
        r = exchange(s.port, get(path));
        QVERIFY2(r.status == 200 && !r.body.isEmpty() && !r.body.contains("://"), path);
    }

    // 200 idle connections held open: the newest are kept, the page still answers.
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < 200; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        idle.back()->connectToHost(QStringLiteral("127.0.0.1"), s.port);
        QVERIFY(idle.back()->waitForConnected(10000));
    }
    QCOMPARE(exchange(s.port, get("/api/state")).status, 200);
    const auto closed = [&] {
        return std::count_if(idle.cbegin(), idle.cend(), [](const auto& c) {
            return c->state() == QAbstractSocket::UnconnectedState;
        });
    };
    QTRY_VERIFY_WITH_TIMEOUT(closed() >= 200 - 64, 10000);
    // And the rest once idle a while.
    QTRY_VERIFY_WITH_TIMEOUT(closed() == 200, 20000);

    // 10,000 requests in a loop on kept-alive connections.
    QElapsedTimer took;
    took.start();
    QMap<int, int> statuses;
    QTcpSocket c;
    for (int i = 0; i < 10000; ++i) {
        if (c.state() != QAbstractSocket::ConnectedState) {
            c.abort();
            c.connectToHost(QStringLiteral("127.0.0.1"), s.port);
            QVERIFY(c.waitForConnected(10000));
        }
        const bool head = i % 3 == 1;
        c.write(i % 3 == 0 ? get("/api/state") : head ? "HEAD / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" : get("/nothing"));
        Reply reply;
        QVERIFY2(readReply(c, reply, head), qPrintable(QStringLiteral("request %1").arg(i)));
        ++statuses[reply.status];
        QVERIFY(!head || reply.body.isEmpty());
    }
    QCOMPARE(statuses, (QMap<int, int>{{200, 6667}, {404, 3333}}));
    qInfo("10,000 requests in %lld ms", took.elapsed());

    // The page answers afterwards.
    took.restart();
    r = exchange(s.port, get("/"));
    QCOMPARE(r.status, 200);
    QVERIFY(r.body.contains("<title>Pelmora station</title>"));
    qInfo("the page answered in %lld ms after the load", took.elapsed());

    // Every unit loaded meanwhile is byte-exact with its record.
    QVERIFY(s.p.waitForFinished(180000));
    QCOMPARE(s.p.exitCode(), 0);
    QList<Ledger::UnitRecord> records = Ledger::LocalLedger(ledgerPath()).units();
    QCOMPARE(records.size(), 4);
    std::sort(records.begin(), records.end(), [](const auto& a, const auto& b) { return a.unitNumber < b.unitNumber; });
    QMap<QString, int> seen;
    for (const Ledger::UnitRecord& rec : records) {
        QCOMPARE(rec.result, QStringLiteral("pass"));
        const int unit = ++seen[rec.fixtureName];
        const QString out = QStringLiteral("%1/unit-%2/").arg(fixtures[size_t(rec.fixtureName.mid(1).toInt())].outDir()).arg(unit);
        for (const auto& [label, file, bytes] : {std::tuple{0, "Externl1.ejf", &ship}, {1, "Externl3.ejf", &inner}}) {
            const QByteArray got = read(out + QLatin1String(file));
            QCOMPARE(got, *bytes);
            QCOMPARE(rec.labels[label].sha256, QString::fromLatin1(QCryptographicHash::hash(got, QCryptographicHash::Sha256).toHex()));
            QCOMPARE(rec.labels[label].dataFramesSent, qint64(got.size()));
        }
    }
}

void StationPageTest::addressInUseIsRefused()
{
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::LocalHost));
    QProcess p;
    p.start(qEnvironmentVariable("PELMORA_BIN_DIR") + QStringLiteral("/pelmora-station"),
            {QStringLiteral("--recipe"), recipe, QStringLiteral("--ledger"), ledgerPath(), QStringLiteral("--listen"),
             QStringLiteral("127.0.0.1:%1").arg(holder.serverPort()), QStringLiteral("--fixture"), dir.filePath(QStringLiteral("none"))});
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitCode(), 4);
    const QByteArray err = p.readAllStandardError();
    QVERIFY2(err.contains(QStringLiteral("the page cannot listen on 127.0.0.1:%1").arg(holder.serverPort()).toUtf8()), err.constData());
    // A name could resolve anywhere: only an address is taken.
    p.start(p.program(), {QStringLiteral("--recipe"), recipe, QStringLiteral("--listen"), QStringLiteral("localhost:8470"),
                          QStringLiteral("--fixture"), dir.filePath(QStringLiteral("none"))});
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitCode(), 2);
}

QTEST_GUILESS_MAIN(StationPageTest)
#include "tst_station_page.moc"
