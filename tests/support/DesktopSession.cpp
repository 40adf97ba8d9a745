#include "DesktopSession.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QStandardPaths>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <xcb/xcb.h>

namespace {
bool found(const QString& tool)
{
    return !QStandardPaths::findExecutable(tool).isEmpty();
}

bool displayInUse(int n)
{
    return QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)) ||
           QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n));
}

xcb_atom_t internAtom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}
bool displayAnswers(const QString& display)
{
    xcb_connection_t* c = xcb_connect(display.toLatin1().constData(), nullptr);
    const bool answers = !xcb_connection_has_error(c);
    xcb_disconnect(c);
    return answers;
}

// A window manager that has taken the display names its check window on the root.
bool windowManagerReady()
{
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    bool ready = false;
    if (!xcb_connection_has_error(c)) {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        const xcb_atom_t check = internAtom(c, "_NET_SUPPORTING_WM_CHECK");
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            c, xcb_get_property(c, 0, root, check, XCB_ATOM_WINDOW, 0, 1), nullptr);
        ready = reply && xcb_get_property_value_length(reply) > 0;
        std::free(reply);
    }
    xcb_disconnect(c);
    return ready;
}
}  // namespace

DesktopSession::~DesktopSession()
{
    for (QProcess* p : {&windowManager_, &server_}) {
        if (p->state() == QProcess::NotRunning)
            continue;
        p->terminate();
        if (!p->waitForFinished(3000)) {
            p->kill();
            p->waitForFinished(3000);
        }
    }
}

bool DesktopSession::available()
{
    for (const QString tool : {"Xvfb", "openbox", "xdotool", "wmctrl", "import"}) {
        if (!found(tool)) {
            why_ = tool + QStringLiteral(" is not installed");
            return false;
        }
    }
    return true;
}

bool DesktopSession::start()
{
    for (int n = 90; n < 200 && server_.state() == QProcess::NotRunning; ++n) {
        if (displayInUse(n))
            continue;
        const QString display = QStringLiteral(":%1").arg(n);
        server_.start(QStringLiteral("Xvfb"), {display, QStringLiteral("-screen"), QStringLiteral("0"),
                                               QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                                               QStringLiteral("tcp"), QStringLiteral("-noreset")});
        QDeadlineTimer deadline(30000);
        while (!displayAnswers(display) && !server_.waitForFinished(20) && !deadline.hasExpired()) {
        }
        if (server_.state() == QProcess::Running && displayAnswers(display)) {
            qputenv("DISPLAY", display.toLatin1());
        } else {
            server_.kill();
            server_.waitForFinished(3000);
        }
    }
    if (server_.state() != QProcess::Running) {
        why_ = QStringLiteral("Xvfb did not start");
        return false;
    }
    // The server must not reset when the last client leaves (as after the
    // probes above), or openbox may meet it mid-reset; should it still give up
    // at once, it is started again.
    windowManager_.setStandardInputFile(QProcess::nullDevice());
    windowManager_.setProcessChannelMode(QProcess::MergedChannels);
    for (int attempt = 0; attempt < 3; ++attempt) {
        windowManager_.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        QDeadlineTimer deadline(30000);
        while (!windowManagerReady() && !windowManager_.waitForFinished(50) && !deadline.hasExpired()) {
        }
        if (windowManager_.state() == QProcess::Running && windowManagerReady())
            return true;
        why_ = QStringLiteral("openbox did not start (%1): %2")
                   .arg(windowManager_.state() == QProcess::NotRunning
                            ? QStringLiteral("it ended with %1").arg(windowManager_.exitCode())
                            : QStringLiteral("no answer"),
                        QString::fromLocal8Bit(windowManager_.readAll()).trimmed());
        windowManager_.kill();
        windowManager_.waitForFinished(3000);
    }
    return false;
}

bool DesktopSession::run(const QString& tool, const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(tool, args);
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

void DesktopSession::runDetached(const QString& tool, const QStringList& args)
{
    QProcess::startDetached(tool, args);
}

int DesktopSession::ping(unsigned long window, int timeoutMs)
{
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return -1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const xcb_atom_t protocols = internAtom(c, "WM_PROTOCOLS");
    const xcb_atom_t pingAtom = internAtom(c, "_NET_WM_PING");
    // The answer goes to the root window, to whoever listens there (Qt sends
    // it for structure changes and the window manager's redirection).
    const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);

    xcb_client_message_event_t ping{};
    ping.response_type = XCB_CLIENT_MESSAGE;
    ping.format = 32;
    ping.window = static_cast<xcb_window_t>(window);
    ping.type = protocols;
    ping.data.data32[0] = pingAtom;
    ping.data.data32[1] = XCB_CURRENT_TIME;
    ping.data.data32[2] = static_cast<uint32_t>(window);
    const auto sent = std::chrono::steady_clock::now();
    xcb_send_event(c, 0, static_cast<xcb_window_t>(window), XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&ping));
    xcb_flush(c);

    int answeredAfter = -1;
    const auto elapsedMs = [&] {
        return int(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent).count());
    };
    while (answeredAfter < 0 && elapsedMs() < timeoutMs) {
        pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&fd, 1, 10);
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                const auto* answer = reinterpret_cast<const xcb_client_message_event_t*>(event);
                if (answer->window == root && answer->type == protocols && answer->data.data32[0] == pingAtom &&
                    answer->data.data32[2] == window)
                    answeredAfter = elapsedMs();
            }
            std::free(event);
        }
    }
    xcb_disconnect(c);
    return answeredAfter;
}
