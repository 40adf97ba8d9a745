#include "PageServer.h"

#include "ledger/CsvExport.h"
#include "ledger/LocalLedger.h"
#include "ledger/RecordText.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
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

using Status = QHttpServerResponder::StatusCode;

}  // namespace

PageServer::PageServer(const PageSnapshot& snapshot, const Ledger::LocalLedger& ledger, QObject* parent)
    : QAbstractHttpServer(parent), snapshot_(snapshot), ledger_(ledger)
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
        return csv();
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
        const QList<Ledger::UnitRecord> all = ledger_.units();
        QJsonArray list;
        // The latest first.
        for (qsizetype i = all.size() - 1; i >= 0 && list.size() < limit; --i)
            list.append(Ledger::toJson(all[i]));
        return {200, kJson, QJsonDocument(list).toJson(QJsonDocument::Compact)};
    } catch (const std::exception& error) {
        return {503, kText, QByteArray("The ledger cannot be read: ") + error.what() + '\n'};
    }
}

PageServer::Reply PageServer::csv() const
{
    try {
        return {200, "text/csv; charset=utf-8", Ledger::csvText(ledger_.units())};
    } catch (const std::exception& error) {
        return {503, kText, QByteArray("The ledger cannot be read: ") + error.what() + '\n'};
    }
}

bool PageServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    const QUrl url = request.url();
    Reply reply = answer(url.path(QUrl::FullyEncoded), url.query(QUrl::FullyEncoded));
    const bool head = request.method() == QHttpServerRequest::Method::Head;
    // Read-only: a known path asked for with anything but GET or HEAD.
    if (request.method() != QHttpServerRequest::Method::Get && !head && reply.status != 404)
        reply = text(405, "Only GET and HEAD.");

    QHttpServerResponder responder = makeResponder(request, socket);
    responder.writeStatusLine(Status(reply.status));
    responder.writeHeader("Content-Type", reply.type);
    responder.writeHeader("Content-Length", QByteArray::number(reply.body.size()));
    responder.writeHeader("Cache-Control", "no-store");
    responder.writeHeader("X-Content-Type-Options", "nosniff");
    responder.writeHeader("Referrer-Policy", "no-referrer");
    // The page asks nothing of anyone but this station.
    responder.writeHeader("Content-Security-Policy",
                          "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
                          "base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
    if (reply.status == 405)
        responder.writeHeader("Allow", "GET, HEAD");
    if (reply.type.startsWith("text/csv"))
        responder.writeHeader("Content-Disposition", "attachment; filename=\"units.csv\"");
    responder.writeBody(head ? QByteArray() : reply.body);
    return true;
}

void PageServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    makeResponder(request, socket).write(Status::NotFound);
}
