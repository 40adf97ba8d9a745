#include "BlockedCloseFilter.h"

#include <QApplication>
#include <QGuiApplication>
#include <QWindow>

#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace {
xcb_atom_t internAtom(xcb_connection_t* connection, const char* name)
{
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (!reply)
        return XCB_ATOM_NONE;
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    return atom;
}
}  // namespace

std::unique_ptr<BlockedCloseFilter> BlockedCloseFilter::installFor(QWidget* window)
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return nullptr;
    std::unique_ptr<BlockedCloseFilter> filter(new BlockedCloseFilter(
        window, internAtom(connection, "WM_PROTOCOLS"), internAtom(connection, "WM_DELETE_WINDOW")));
    qGuiApp->installNativeEventFilter(filter.get());
    return filter;
}

BlockedCloseFilter::BlockedCloseFilter(QWidget* window, std::uint32_t protocolsAtom, std::uint32_t deleteWindowAtom)
    : window_(window), protocolsAtom_(protocolsAtom), deleteWindowAtom_(deleteWindowAtom)
{
}

BlockedCloseFilter::~BlockedCloseFilter()
{
    if (qGuiApp)
        qGuiApp->removeNativeEventFilter(this);
}

bool BlockedCloseFilter::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t" || !window_ || protocolsAtom_ == XCB_ATOM_NONE)
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
        return false;
    const auto* client = static_cast<const xcb_client_message_event_t*>(message);
    if (client->format != 32 || client->type != protocolsAtom_ || client->data.data32[0] != deleteWindowAtom_)
        return false;
    const QWindow* handle = window_->windowHandle();
    if (!handle || client->window != handle->winId())
        return false;
    // Unblocked, Qt delivers the request itself.
    if (!QApplication::activeModalWidget())
        return false;
    QMetaObject::invokeMethod(
        window_, [window = window_] {
            if (window)
                window->close();
        },
        Qt::QueuedConnection);
    return false;
}
