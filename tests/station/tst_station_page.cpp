// pelmora-station's page while emulated fixtures load units: what a real
// browser shows, and what hostile clients get.

#include "EmulatorProcess.h"
#include "ledger/LocalLedger.h"
#include "ledger/RecordText.h"

#include <QCryptographicHash>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <csignal>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Event = std::function<bool(const QJsonObject&)>;
using S = QStringList;

struct Reply { int status = 0; QByteArray head, body; };

// A chunked body undone; empty when it was cut short of its last chunk.
// A chunked body undone; nothing until its last, empty chunk is in.
std::optional<QByteArray> dechunked(const QByteArray& in)
{
    QByteArray out;
    qsizetype at = 0, eol = 0;
    while ((eol = in.indexOf("\r\n", at)) >= 0) {
        const qsizetype size = in.mid(at, eol - at).toLongLong(nullptr, 16);
        if (size == 0)
            return in.size() >= eol + 4 ? std::optional(out) : std::nullopt;
        out += in.mid(eol + 2, size);
        at = eol + 2 + size + 2;  // the chunk and its line end
    }
    return std::nullopt;
}

// One request on a connection of its own, and its response (HEAD's has no
// body; a chunked one is read to its last chunk and undone, one without a
// length to the close).
Reply exchange(quint16 port, const QByteArray& request)
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    s.write(request);  // sent once connected
    QByteArray in;
    for (qsizetype end = -1, length = 0; s.waitForReadyRead(10000) || s.state() != QAbstractSocket::ConnectedState;) {
        in += s.readAll();
        if (end < 0 && (end = in.indexOf("\r\n\r\n")) >= 0) {
            const auto m = QRegularExpression(QStringLiteral("Content-Length: (\\d+)")).match(QString::fromLatin1(in.left(end)));
            length = request.startsWith("HEAD") ? 0 : m.hasMatch() ? m.captured(1).toLongLong() : -1;
        }
        const bool closed = s.state() != QAbstractSocket::ConnectedState;
        if (end >= 0) {
            const QByteArray head = in.left(end), body = in.mid(end + 4);
            // A chunked answer is whole at its last chunk, not when the server drops an idle connection.
            if (head.contains("Transfer-Encoding: chunked")) {
                if (const auto whole = in.endsWith("0\r\n\r\n") || closed ? dechunked(body) : std::nullopt; whole || closed)
                    return {head.mid(9, 3).toInt(), head, whole.value_or(QByteArray())};
            } else if ((length >= 0 && body.size() >= length) || closed)
                return {head.mid(9, 3).toInt(), head, body};
        }
        if (closed)
            break;
    }
    return {};
}

QByteArray get(const char* path) { return QByteArray("GET ") + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"; }

// A fixture's tile as the browser drew it: its state word, then its text.
std::pair<QString, QString> tile(const QByteArray& dom, const char* fixture)
{
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("data-fixture=\"%1\" data-state=\"([A-Z]+)\">(.*?)</article>")
                                                             .arg(QLatin1String(fixture)))
                                          .match(QString::fromUtf8(dom));
    return {m.captured(1), m.captured(2).replace(QRegularExpression(QStringLiteral("<[^>]*>")), QStringLiteral(" ")).simplified()};
}

Event about(const char* name, const char* fixture, qint64 after = 0)
{
    return [=](const QJsonObject& e) {
        return e[QStringLiteral("event")] == QLatin1String(name) && e[QStringLiteral("fixture")] == QLatin1String(fixture)
               && e[QStringLiteral("unit")].toInteger() > after;
    };
}

// A program's standard output; empty unless it ended well.
QByteArray output(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    const bool ran = p.waitForFinished(60000) && p.exitCode() == 0;
    if (!ran)
        qWarning("%s: %s %s", qPrintable(program), qPrintable(p.errorString()), p.readAllStandardError().constData());
    return ran ? p.readAllStandardOutput() + ' ' : QByteArray();
}

// Debian's chromium (scripts/ensure-deps.sh), headless; its sandbox refuses to run as root.
QByteArray chromium(const QString& profile, const QStringList& args)
{
    return output(QStringLiteral("chromium"), S{"--headless", "--disable-gpu", "--virtual-time-budget=2500", "--user-data-dir=" + profile}
                                                  + (::geteuid() == 0 ? S{"--no-sandbox"} : S{}) + args);
}

}  // namespace

class StationPageTest : public QObject {
    Q_OBJECT
    // In memory where there is such a file system: the ledgers written here are long.
    QTemporaryDir dir{(QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm") : QDir::tempPath())
                      + QStringLiteral("/tst_station_page-XXXXXX")};
    // The shipping label long enough (about 4 s on the wire) for a browser to
    // look at a tile while it loads, on a busy machine too.
    const QByteArray ship = QByteArray("\x00ship label\xff\r\n", 14).repeated(20), inner = QByteArray("inner label\r\n\x00\xff", 15);

    // A station with its page on a free port, and its JSON events so far.
    struct Station {
        QProcess p;
        QByteArray out, err;
        QList<QJsonObject> events;
        quint16 port = 0;
        QString url() const { return QStringLiteral("http://127.0.0.1:%1/").arg(port); }
        // The first event that holds, waiting up to timeoutMs for it.
        std::optional<QJsonObject> waitFor(const Event& holds, int timeoutMs = 60000)
        {
            for (QDeadlineTimer deadline(timeoutMs);; p.waitForReadyRead(200)) {
                out += p.readAllStandardOutput();
                for (qsizetype nl; (nl = out.indexOf('\n')) >= 0; out.remove(0, nl + 1))
                    events << QJsonDocument::fromJson(out.left(nl)).object();
                for (const QJsonObject& e : events)
                    if (holds(e))
                        return e;
                if (deadline.hasExpired() || p.state() == QProcess::NotRunning)
                    return std::nullopt;
            }
        }
    };
    QString ledgerPath() const { return dir.filePath(QLatin1String(QTest::currentTestFunction()) + QStringLiteral(".sqlite")); }
    bool start(Station& s, const QStringList& args)
    {
        s.p.start(qEnvironmentVariable("PELMORA_BIN_DIR") + QStringLiteral("/pelmora-station"),
                  S{"--json", "--listen", "127.0.0.1:0", "--recipe", dir.filePath(QStringLiteral("recipe.toml")), "--ledger", ledgerPath()} + args);
        for (QDeadlineTimer deadline(20000); !deadline.hasExpired() && s.p.state() != QProcess::NotRunning; s.p.waitForReadyRead(200)) {
            s.err += s.p.readAllStandardError();
            const auto m = QRegularExpression(QStringLiteral("page is at http://127.0.0.1:(\\d+)/")).match(QString::fromLocal8Bit(s.err));
            if ((s.port = quint16(m.captured(1).toUInt())) > 0)
                return true;
        }
        return false;
    }

private slots:
    void initTestCase()
    {
        for (const auto& [name, bytes] : {std::pair{"ship.epl", ship}, {"inner.epl", inner},
                                          {"recipe.toml", "name = \"line 7\"\n[[label]]\nslot = 1\nfile = \"ship.epl\"\n"
                                                          "[[label]]\nslot = 3\nfile = \"inner.epl\"\n"}}) {
            QFile f(dir.filePath(QLatin1String(name)));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        }
    }

    void verdictsStayInTheBrowser()
    {
        // "pass" passes two units with a pause between, "fail" fails its
        // first length by saying no and is left in a while, "third" passes two units.
        EmulatorProcess pass, fail, third;
        QVERIFY(pass.start({"--units", "2", "--present", "4", "--absent", "6"}));
        QVERIFY(fail.start({"--units", "1", "--present", "20", "--reply", "length=X"}));
        QVERIFY(third.start({"--units", "2", "--present", "5", "--absent", "3"}));
        Station s;
        QVERIFY(start(s, {"--gone-after", "2", "--fixture", "pass=" + pass.ptyPath(), "--fixture", "fail=" + fail.ptyPath(), "--fixture", "third=" + third.ptyPath()}));
        const auto dom = [&] { return chromium(dir.filePath(QStringLiteral("profile")), {"--dump-dom", s.url()}); };
        // A look counts only if what it is about did not change while it was taken.
        const auto notYet = [&](const Event& e) { return !s.waitFor(e, 0); };

        // A passed unit taken out: PASS stays until the next unit starts.
        const auto gone = s.waitFor(about("gone", "pass"));
        QVERIFY(gone);
        const qint64 passed = (*gone)[QStringLiteral("unit")].toInteger();
        const QByteArray seen = dom();
        QVERIFY2(notYet(about("arrived", "pass", passed)), "the next unit came too soon to tell");
        QCOMPARE(tile(seen, "pass"), std::pair(QStringLiteral("PASS"), QStringLiteral("Fixture pass · unit %1 ✓ PASS unit %1 passed waiting for the next unit").arg(passed)));
        const auto next = s.waitFor(about("arrived", "pass", passed));
        QVERIFY(next);
        const QByteArray loading = dom();
        QVERIFY2(notYet(about("result", "pass", passed)), "the next unit was loaded before the look ended");
        QCOMPARE(tile(loading, "pass").first, QStringLiteral("LOADING"));

        // A failed unit still in its fixture: FAIL, why, and what to do, until it is taken out.
        const auto failed = s.waitFor(about("result", "fail"));
        QVERIFY(failed);
        const auto [state, text] = tile(dom(), "fail");
        for (const QSize size : {QSize(1366, 768), QSize(390, 844)}) {
            const QString png = QStringLiteral("page-%1x%2.png").arg(size.width()).arg(size.height());
            QVERIFY(!chromium(dir.filePath(QStringLiteral("profile")), {QStringLiteral("--window-size=%1,%2").arg(size.width()).arg(size.height()), "--screenshot=" + png, s.url()}).isEmpty());
            QCOMPARE(QImage(png).size(), size);
        }
        QVERIFY2(notYet(about("gone", "fail")), "the failed unit left too soon to tell");
        QCOMPARE(state, QStringLiteral("FAIL"));
        QVERIFY2(text.endsWith((*failed)[QStringLiteral("why")].toString() + QStringLiteral(" TAKE THE UNIT OUT")), qPrintable(text));
        QVERIFY(s.waitFor(about("gone", "fail")));
        QCOMPARE(tile(dom(), "fail").first, QStringLiteral("WAITING"));

        // Every unit ended: the totals are the ledger's, the CSV its export, the latest units its records.
        QVERIFY(s.waitFor([&](const QJsonObject&) { return std::count_if(s.events.cbegin(), s.events.cend(), about("result", "third")) == 2
                                                           && std::count_if(s.events.cbegin(), s.events.cend(), about("result", "pass")) == 2; }));
        const auto run = QRegularExpression(QStringLiteral("<tr id=\"run\"><th scope=\"row\">This run</th><td>(\\d+)</td><td>(\\d+)</td><td>(\\d+)</td>"))
                             .match(QString::fromUtf8(dom()));
        QCOMPARE(run.capturedTexts().mid(1), S({"5", "4", "1"}));
        const QString ledgerCommand = qEnvironmentVariable("PELMORA_BIN_DIR") + QStringLiteral("/pelmora-ledger");
        QVERIFY(output(ledgerCommand, {"--ledger", ledgerPath(), "summary"}).startsWith("5 units: 4 passed, 1 failed,"));
        const QByteArray csv = exchange(s.port, get("/units.csv")).body + ' ';
        QCOMPARE(csv, output(ledgerCommand, {"--ledger", ledgerPath(), "export", "--csv"}));
        QCOMPARE(csv.count("\r\n"), 6);
        const QJsonArray latest = QJsonDocument::fromJson(exchange(s.port, get("/api/units?limit=2")).body).array();
        const QList<Ledger::UnitRecord> records = Ledger::LocalLedger(ledgerPath()).units();
        QCOMPARE(latest, QJsonArray({Ledger::toJson(records[4]), Ledger::toJson(records[3])}));
        QCOMPARE(exchange(s.port, get("/api/units?limit=100000")).status, 400);
        // A fixture whose line went says so over the PASS it still shows.
        third.stop();
        const auto lost = s.waitFor([](const QJsonObject& e) { return about("waiting", "third", -1)(e) && e[QStringLiteral("why")].toString().startsWith(QStringLiteral("no port at")); });
        QVERIFY(lost);
        const auto [word, said] = tile(dom(), "third");
        QCOMPARE(word, QStringLiteral("PASS"));
        QVERIFY2(said.endsWith(QStringLiteral("passed ⚠ ") + (*lost)[QStringLiteral("why")].toString()), qPrintable(said));
        ::kill(pid_t(s.p.processId()), SIGTERM);
        QVERIFY(s.p.waitForFinished(20000));
    }

    void hostileClientsWhileUnitsLoad()
    {
        EmulatorProcess a, b;
        for (EmulatorProcess* e : {&a, &b})
            QVERIFY(e->start({"--units", "2", "--present", "3", "--absent", "2"}));
        // Five units asked for, four there: the station outlasts the requests
        // however slowly they go, and is stopped once the four have ended.
        Station s;
        QVERIFY(start(s, {"--units", "5", "--fixture", "f0=" + a.ptyPath(), "--fixture", "f1=" + b.ptyPath()}));
        QVERIFY(s.waitFor([](const QJsonObject& e) { return e[QStringLiteral("event")] == QStringLiteral("label"); }));
        // Its address is taken now: another station is refused before it sends anything.
        const QString taken = QStringLiteral("127.0.0.1:%1").arg(s.port);
        QProcess second;
        second.start(qEnvironmentVariable("PELMORA_BIN_DIR") + QStringLiteral("/pelmora-station"),
                     {"--recipe", dir.filePath(QStringLiteral("recipe.toml")), "--ledger", ledgerPath() + u'2', "--listen", taken, "--fixture", "none"});
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitCode(), 4);
        QVERIFY(second.readAllStandardError().contains("the page cannot listen on " + taken.toUtf8()));

        // Refused as they should be: a 1 MB header, paths out of the page however spelt, writes.
        QList<std::pair<QByteArray, int>> asked{{"GET / HTTP/1.1\r\nX-Big: " + QByteArray(1 << 20, 'a') + "\r\n\r\n", 431}};
        for (const char* path : {"/../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/..%2f..%2fetc%2fpasswd", "/%252e%252e/etc/passwd",
                                 "//etc/passwd", "/page.js/../../../../etc/passwd", "/..\\..\\etc\\passwd", "/etc/passwd"})
            asked.append({get(path), 404});
        for (const char* method : {"POST", "PUT", "DELETE"})
            asked.append({QByteArray(method) + " /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 2\r\n\r\n{}", 405});
        for (const auto& [request, status] : asked) {
            const Reply r = exchange(s.port, request);
            QVERIFY2(r.status == status && !r.body.contains("root:") && (status != 405 || r.head.contains("Allow: GET, HEAD")), request.left(60));
        }
        // Nothing the page needs comes from elsewhere.
        for (const char* path : {"/", "/page.js", "/page.css"}) {
            const Reply r = exchange(s.port, get(path));
            QVERIFY2(r.status == 200 && !r.body.isEmpty() && !r.body.contains("://"), path);
        }

        // 200 idle connections: the newest are kept and the page answers; the rest go once idle a while.
        std::vector<std::unique_ptr<QTcpSocket>> idle(200);
        for (auto& c : idle) {
            (c = std::make_unique<QTcpSocket>())->connectToHost(QHostAddress::LocalHost, s.port);
            QVERIFY(c->waitForConnected(10000));
        }
        QCOMPARE(exchange(s.port, get("/api/state")).status, 200);
        const auto closed = [&] {
            return std::count_if(idle.cbegin(), idle.cend(), [](const auto& c) { return c->state() == QAbstractSocket::UnconnectedState; });
        };
        QTRY_VERIFY_WITH_TIMEOUT(closed() >= 200 - 64, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(closed() == 200, 20000);

        // 10,000 requests in a loop.
        QMap<int, int> statuses;
        for (int i = 0; i < 10000; ++i) {
            const Reply r = exchange(s.port, i % 3 == 0 ? get("/api/state") : i % 3 == 1 ? "HEAD / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" : get("/nothing"));
            ++statuses[i % 3 == 1 && !r.body.isEmpty() ? -1 : r.status];
        }
        QCOMPARE(statuses, (QMap<int, int>{{200, 6667}, {404, 3333}}));
        QVERIFY(exchange(s.port, get("/")).body.contains("<title>Pelmora station</title>"));

        // Every unit loaded meanwhile is byte-exact with its record.
        QVERIFY(s.waitFor([&](const QJsonObject&) {
            return std::count_if(s.events.cbegin(), s.events.cend(), [](const QJsonObject& e) {
                       return e[QStringLiteral("event")] == QStringLiteral("result");
                   }) == 4;
        }, 180000));
        ::kill(pid_t(s.p.processId()), SIGTERM);
        QVERIFY(s.p.waitForFinished(20000));
        QCOMPARE(s.p.exitCode(), 143);
        QList<Ledger::UnitRecord> records = Ledger::LocalLedger(ledgerPath()).units();
        QCOMPARE(records.size(), 4);
        std::sort(records.begin(), records.end(), [](const auto& x, const auto& y) { return x.unitNumber < y.unitNumber; });
        QMap<QString, int> seen;
        for (const Ledger::UnitRecord& r : records) {
            const QString out = QStringLiteral("%1/unit-%2/").arg((r.fixtureName == QStringLiteral("f0") ? a : b).outDir()).arg(++seen[r.fixtureName]);
            for (const auto& [label, file, bytes] : {std::tuple{0, "Externl1.ejf", ship}, {1, "Externl3.ejf", inner}}) {
                QFile f(out + QLatin1String(file));
                QCOMPARE(f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)"), bytes);
                QCOMPARE(r.labels[label].sha256, QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()));
                QCOMPARE(r.labels[label].dataFramesSent, qint64(bytes.size()));
            }
        }
    }

    void heldAndMisdirectedClients()
    {
        // A ledger whose CSV (about 1.4 MB) is far more than a client that never reads takes in.
        {
            Ledger::LocalLedger ledger(ledgerPath());
            // A millisecond apart: units begun in the same one have no latest among them.
            const QDateTime first = QDateTime::currentDateTimeUtc().addSecs(-60);
            for (int n = 1; n <= 1500; ++n) {
                Ledger::UnitRecord r{QUuid::createUuid(), {}, "bench", "A", "/dev/ttyUSB0", "", n, "line 7", QString(64, 'a'), "1", first.addMSecs(n), {}, {}, {}, {}, {}, {}, {}};
                for (int slot = 1; slot <= 5; ++slot)
                    r.labels.append({slot, QStringLiteral("label%1.epl").arg(slot), QString(64, 'b'), 1000, 1000, true, true, "loaded", {}});
                ledger.begin(r);
                r.result = QStringLiteral("pass");
                r.end = r.start.addMSecs(1);
                ledger.close(r);
            }
        }
        Station s;
        QVERIFY(start(s, {"--station", "bench 7", "--page-name", "bench7.example", "--fixture", "none"}));
        QTRY_COMPARE(exchange(s.port, get("/api/state")).status, 200);  // once the station's first state is there
        const auto asking = [&](const QByteArray& host) { return "GET /api/state HTTP/1.1\r\nHost: " + host + "\r\n\r\n"; };
        const QByteArray port = QByteArray::number(s.port);
        // Only its own names: a page elsewhere rebinding its name to this address is refused.
        for (const auto& [request, status] : {std::pair{asking("evil.example"), 421}, {asking("evil.example:" + port), 421}, {asking("127.0.0.1:1"), 421},
                                              {"GET /api/state HTTP/1.1\r\n\r\n", 400}, {asking("localhost:" + port), 200},
                                              {asking("BENCH7.example"), 200}, {asking("[::1]"), 421}, {asking("127.0.0.1:" + port), 200}})
            QVERIFY2(exchange(s.port, request).status == status, request);

        // HTTP/1.0 and "Connection: close": the connection ends with the answer, not when idle (5 s).
        for (const QByteArray& request : QList<QByteArray>{"GET /api/state HTTP/1.0\r\n\r\n", "GET /api/state HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n"}) {
            QTcpSocket c;
            c.connectToHost(QHostAddress::LocalHost, s.port);
            c.write(request);
            QVERIFY2(c.waitForDisconnected(3000), request);
            const QByteArray answer = c.readAll();
            QVERIFY2(answer.startsWith("HTTP/1.1 200 OK\r\n") && answer.contains("\r\nConnection: close\r\n") && answer.contains("\"station\":\"bench 7\""), answer.left(300));
        }

        // Three downloads that are never read, through small windows; the state is answered meanwhile, a fourth download waits.
        std::vector<int> held;
        for (int i = 0; i < 3; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            const int window = 4096;
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
            sockaddr_in to{AF_INET, htons(s.port), {htonl(INADDR_LOOPBACK)}, {}};
            QVERIFY(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0);
            const QByteArray request = get("/units.csv");
            QCOMPARE(::write(fd, request.constData(), size_t(request.size())), request.size());
            held.push_back(fd);
        }
        for (int i = 0; i < 6; ++i)
            QCOMPARE(exchange(s.port, get("/api/state")).status, 200);
        const Reply busy = exchange(s.port, get("/units.csv"));
        QVERIFY2(busy.status == 503 && busy.head.contains("\r\nRetry-After: "), busy.head);
        // Once nothing went through for a while, each is dropped, and another download is whole.
        for (const int fd : held) {
            pollfd p{fd, POLLIN, 0};
            QTRY_VERIFY_WITH_TIMEOUT(::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR)), 20000);
            ::close(fd);
        }
        const QByteArray csv = exchange(s.port, get("/units.csv")).body + ' ';
        QVERIFY(csv.size() > 1000000);
        QCOMPARE(csv, output(qEnvironmentVariable("PELMORA_BIN_DIR") + QStringLiteral("/pelmora-ledger"), {"--ledger", ledgerPath(), "export", "--csv"}));
        QCOMPARE(QJsonDocument::fromJson(exchange(s.port, get("/api/units?limit=1")).body)[0][QStringLiteral("unitNumber")].toInteger(), 1500);
        ::kill(pid_t(s.p.processId()), SIGTERM);
        QVERIFY(s.p.waitForFinished(20000));
    }
};

QTEST_GUILESS_MAIN(StationPageTest)
#include "tst_station_page.moc"
