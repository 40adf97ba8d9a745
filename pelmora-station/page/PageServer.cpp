#include "PageServer.h"

#include "ConnectionGuard.h"
#include "CsvDownload.h"
#include "ledger/LocalLedger.h"
#include "ledger/RecordText.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrlQuery>

namespace {

constexpr int kUnitsDefault = 20;
constexpr int kUnitsMost = 500;

// The page's own files; the only ones it ever serves.
struct PageFile {
    const char* path;
    const char* resource;
    const char* type;
};
constexpr PageFile kFiles[] = {
    {"/", ":/page/index.html", "text/html; charset=utf-8"},
    {"/page.css", ":/page/page.css", "text/css; charset=utf-8"},
    {"/page.js", ":/page/page.js", "text/javascript; charset=utf-8"},
};

const QByteArray kJson = "application/json";
const QByteArray kText = "text/plain; charset=utf-8";

PageServer::Reply text(int status, const char* said)
{
    return {status, kText, QByteArray(said) + '\n'};
}

const QByteArray kCsv = "text/csv; charset=utf-8";
constexpr int kDownloadRetrySeconds = 10;

const char* reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 421: return "Misdirected Request";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    }
    return "Error";
}

// The status line and the headers every answer carries, and its own.
QByteArray head(int status, const QByteArray& type, const QList<std::pair<QByteArray, QByteArray>>& own)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n";
    const std::pair<QByteArray, QByteArray> common[] = {
        {"Content-Type", type},
        {"Cache-Control", "no-store"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
        // The page asks nothing of anyone but this station.
        {"Content-Security-Policy", "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
                                    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'"}};
    for (const auto& [name, value] : common)
        out += name + ": " + value + "\r\n";
    for (const auto& [name, value] : own)
        out += name + ": " + value + "\r\n";
    return out + "\r\n";
}

}  // namespace

PageServer::PageServer(const PageSnapshot& snapshot, const Ledger::LocalLedger& ledger, const AllowedHosts& hosts,
                       QObject* parent)
    : QAbstractHttpServer(parent), snapshot_(snapshot), ledger_(ledger), hosts_(hosts)
{
}

PageServer::Reply PageServer::answer(const QString& path, const QString& query) const
{
    for (const PageFile& f : kFiles) {
        if (path != QLatin1String(f.path))
            continue;
        QFile file(QLatin1String(f.resource));
        if (!file.open(QIODevice::ReadOnly))
            return text(500, "The page's files are missing from this build.");
        return {200, f.type, file.readAll()};
    }
    if (path == QLatin1String("/api/state")) {
        const QByteArray state = snapshot_.state();
        if (state.isEmpty())
            return text(503, "The station is starting.");
        return {200, kJson, state};
    }
    if (path == QLatin1String("/api/units"))
        return units(query);
    if (path == QLatin1String("/units.csv"))
        return {200, kCsv, {}};  // streamed by its own download
    return text(404, "Not found.");
}

PageServer::Reply PageServer::units(const QString& query) const
{
    int limit = kUnitsDefault;
    const QUrlQuery q(query);
    if (q.hasQueryItem(QStringLiteral("limit"))) {
        bool ok = false;
        limit = q.queryItemValue(QStringLiteral("limit")).toInt(&ok);
        if (!ok || limit < 1 || limit > kUnitsMost)
            return text(400, "limit takes a whole number from 1 to 500.");
    }
    try {
        Ledger::UnitFilter latest;
        latest.limit = limit;
        const QList<Ledger::UnitRecord> found = ledger_.units(latest);
        QJsonArray list;
        // The latest first.
        for (qsizetype i = found.size() - 1; i >= 0; --i)
            list.append(Ledger::toJson(found[i]));
        return {200, kJson, QJsonDocument(list).toJson(QJsonDocument::Compact)};
    } catch (const std::exception& error) {
        return {503, kText, QByteArray("The ledger cannot be read: ") + error.what() + '\n'};
    }
}

bool PageServer::downloadsFull()
{
    downloads_.removeAll(nullptr);
    return downloads_.size() >= kDownloadsMost;
}

bool PageServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    // A connection that is downloading answers nothing else; it ends with the download.
    if (socket->findChild<CsvDownload*>())
        return true;
    const bool http10 = ConnectionGuard::speaksHttp10(socket);
    bool ends = http10;
    for (const QByteArray& option : request.value("connection").toLower().split(','))
        ends = ends || option.trimmed() == "close";
    const QUrl url = request.url();
    const QByteArray host = request.value("host");
    Reply reply;
    if (host.isEmpty() && !http10)
        reply = text(400, "A request names its host.");
    else if (!host.isEmpty() && !hosts_.allows(host, socket->localAddress()))
        reply = text(421, "This station's page answers to its own address, localhost, or a name given with --page-name.");
    else
        reply = answer(url.path(QUrl::FullyEncoded), url.query(QUrl::FullyEncoded));
    const bool headOnly = request.method() == QHttpServerRequest::Method::Head;
    // Read-only: a known path asked for with anything but GET or HEAD.
    if (reply.status < 400 && request.method() != QHttpServerRequest::Method::Get && !headOnly)
        reply = text(405, "Only GET and HEAD.");
    const bool csv = reply.status == 200 && reply.type == kCsv;
    const bool busy = csv && !headOnly && downloadsFull();
    if (busy)
        reply = text(503, "Other downloads of the units are running; try again in a few seconds.");

    QList<std::pair<QByteArray, QByteArray>> own;
    if (reply.status == 405)
        own.emplace_back("Allow", "GET, HEAD");
    if (busy)
        own.emplace_back("Retry-After", QByteArray::number(kDownloadRetrySeconds));
    if (csv && !busy) {
        // As long as the ledger: sent as it is read, and the connection ends with it.
        own.emplace_back("Content-Disposition", "attachment; filename=\"units.csv\"");
        if (!http10)
            own.emplace_back("Transfer-Encoding", "chunked");
        own.emplace_back("Connection", "close");
        socket->write(head(200, kCsv, own));
        if (headOnly)
            socket->disconnectFromHost();
        else
            downloads_.append(new CsvDownload(socket, ledger_, !http10));
        return true;
    }
    own.emplace_back("Content-Length", QByteArray::number(reply.body.size()));
    if (ends)
        own.emplace_back("Connection", "close");
    socket->write(head(reply.status, reply.type, own) + (headOnly ? QByteArray() : reply.body));
    if (ends)
        socket->disconnectFromHost();
    return true;
}

void PageServer::missingHandler(const QHttpServerRequest&, QTcpSocket* socket)
{
    socket->write(head(404, kText, {{"Content-Length", "0"}}));
}
