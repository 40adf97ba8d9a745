#include "StationPage.h"

#include "ConnectionGuard.h"
#include "PageServer.h"

#include <QJsonDocument>
#include <QTcpServer>
#include <future>

// The page's files live in a static library; the linker keeps them only
// when asked for by name.
static void keepPageFiles()
{
    Q_INIT_RESOURCE(page);
}

namespace {

class PageThread final : public QThread {
public:
    PageThread(const ListenAddress& where, const QStringList& hostNames, const PageSnapshot& snapshot,
               const Ledger::LocalLedger& ledger)
        : where_(where), hostNames_(hostNames), snapshot_(snapshot), ledger_(ledger)
    {
    }
    // The port listened on, or why not.
    std::future<std::variant<quint16, QString>> listening() { return listening_.get_future(); }

protected:
    void run() override
    {
        // Made, used and destroyed on this thread, as Qt's sockets want.
        auto* guard = new ConnectionGuard(ConnectionGuard::Limits{});
        if (!guard->listen(where_.address, where_.port)) {
            listening_.set_value(guard->errorString());
            delete guard;
            return;
        }
        PageServer server(snapshot_, ledger_, AllowedHosts(hostNames_, guard->serverPort()));
        server.bind(guard);  // the server owns it from here
        listening_.set_value(guard->serverPort());
        exec();
    }

private:
    ListenAddress where_;
    QStringList hostNames_;
    const PageSnapshot& snapshot_;
    const Ledger::LocalLedger& ledger_;
    std::promise<std::variant<quint16, QString>> listening_;
};

}  // namespace

void checkPageCanListen(const ListenAddress& where)
{
    QTcpServer server;
    if (!server.listen(where.address, where.port))
        throw PageRefused(QStringLiteral("the page cannot listen on %1: %2").arg(where.shown(), server.errorString()).toStdString());
}

StationPage::StationPage(const ListenAddress& where, const QString& stationName, const QStringList& hostNames,
                         const Ledger::LocalLedger& ledger)
    : stationName_(stationName), address_(where)
{
    keepPageFiles();
    auto thread = std::make_unique<PageThread>(where, hostNames, snapshot_, ledger);
    auto listening = thread->listening();
    thread->start();
    const auto result = listening.get();
    if (const QString* why = std::get_if<QString>(&result)) {
        thread->wait();
        throw PageRefused(QStringLiteral("the page cannot listen on %1: %2").arg(where.shown(), *why).toStdString());
    }
    address_.port = std::get<quint16>(result);
    thread_ = std::move(thread);
}

StationPage::~StationPage()
{
    thread_->quit();
    thread_->wait();
}

void StationPage::publish(const StationState& state)
{
    QJsonObject o = state.toJson();
    o.insert(QStringLiteral("station"), stationName_);
    snapshot_.setState(QJsonDocument(o).toJson(QJsonDocument::Compact));
}
