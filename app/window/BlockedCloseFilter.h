#pragma once
// While a modal box is open, Qt drops the window manager's request to close
// the window the box blocks. The program must end when the operator closes its
// window, box or not, so on X11 this filter spots that request (WM_DELETE_WINDOW
// for the window) and closes the window itself.

#include <QAbstractNativeEventFilter>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <memory>

class BlockedCloseFilter final : public QAbstractNativeEventFilter {
public:
    // Installed on the application for this window; nothing where the
    // platform is not X11.
    static std::unique_ptr<BlockedCloseFilter> installFor(QWidget* window);
    ~BlockedCloseFilter() override;
    BlockedCloseFilter(const BlockedCloseFilter&) = delete;
    BlockedCloseFilter& operator=(const BlockedCloseFilter&) = delete;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    BlockedCloseFilter(QWidget* window, std::uint32_t protocolsAtom, std::uint32_t deleteWindowAtom);

    QPointer<QWidget> window_;
    std::uint32_t protocolsAtom_;
    std::uint32_t deleteWindowAtom_;
};
