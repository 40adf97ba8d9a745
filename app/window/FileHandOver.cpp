#include "window/FileHandOver.h"

#include "window/HandedOverPath.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QToolTip>
#include <memory>

FileHandOver::FileHandOver(QWidget* window, QLineEdit* box, std::function<bool()> mayChange)
    : QObject(window), window_(window), boxGuard_(box), box_(box), mayChange_(std::move(mayChange))
{
    window->setAcceptDrops(true);
    window->installEventFilter(this);
    box->installEventFilter(this);
}

QString FileHandOver::pathOf(const QMimeData& data, bool refusalShown)
{
    const HandedOverFile file = handedOverFile(data);
    if (!file.refusal.isEmpty()) {
        if (refusalShown)
            showRefusal(file.refusal);
        return {};
    }
    if (!file.path.isEmpty())
        return file.path;
    if (!data.hasText())
        return {};
    // A text dragged in (from a terminal, say) counts when it is a path.
    const QString path = handedOverPath(data.text());
    return path.startsWith(QLatin1Char('/')) && !path.contains(QLatin1Char('\n')) ? path : QString();
}

void FileHandOver::showRefusal(const QString& why)
{
    box_->setToolTip(why);
    QToolTip::showText(box_->mapToGlobal(QPoint(0, box_->height())), why, box_);
}

bool FileHandOver::takeDrop(QObject* watched, QEvent* event)
{
    auto* drop = static_cast<QDropEvent*>(event);
    const bool entering = event->type() == QEvent::DragEnter;
    const QString path = mayChange_() && box_->isEnabled() && !box_->isReadOnly()
                             ? pathOf(*drop->mimeData(), entering)
                             : QString();
    if (path.isEmpty()) {
        // Files that cannot be loaded are taken all the same, so the
        // refusal is said the moment they are let go.
        if (mayChange_() && !handedOverFile(*drop->mimeData()).refusal.isEmpty()) {
            drop->acceptProposedAction();
            if (event->type() == QEvent::Drop) {
                showRefusal(handedOverFile(*drop->mimeData()).refusal);
                QApplication::beep();
            }
            return true;
        }
        // A plain text dropped on the box is the box's own business.
        if (watched == box_ && !drop->mimeData()->hasUrls())
            return false;
        drop->ignore();
        return true;
    }
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (event->type() == QEvent::Drop) {
        setHandedOverText(*box_, path);
        box_->setToolTip({});
        box_->setFocus(Qt::OtherFocusReason);
    }
    return true;
}

bool FileHandOver::paste(bool selection)
{
    if (!mayChange_() || box_->isReadOnly())
        return false;
    const QClipboard::Mode mode = selection ? QClipboard::Selection : QClipboard::Clipboard;
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(mode);
    if (!data)
        return false;
    const HandedOverFile file = handedOverFile(*data);
    const QString refusal = !file.refusal.isEmpty() ? file.refusal : data->hasText() ? severalPaths(data->text()) : QString();
    if (!refusal.isEmpty()) {
        // Several addresses would run together into one path.
        showRefusal(refusal);
        return true;
    }
    QString path = file.path;
    if (path.isEmpty() && data->hasText()) {
        path = handedOverPath(data->text());
        if (path == data->text())
            return false;
    }
    if (path.isEmpty())
        return false;
    insertHandedOverText(*box_, path);
    return true;
}

bool FileHandOver::eventFilter(QObject* watched, QEvent* event)
{
    // Events of a widget being destroyed come here too; a box half gone is no box.
    if (window_.isNull() || qobject_cast<QLineEdit*>(boxGuard_.data()) == nullptr)
        return false;
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return takeDrop(watched, event);
    default:
        break;
    }
    if (watched != box_)
        return false;
    switch (event->type()) {
    case QEvent::KeyPress:
        return static_cast<QKeyEvent*>(event)->matches(QKeySequence::Paste) && paste(false);
    case QEvent::MouseButtonRelease: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::MiddleButton || !QGuiApplication::clipboard()->supportsSelection())
            return false;
        box_->setCursorPosition(box_->cursorPositionAt(mouse->position().toPoint()));
        return paste(true);
    }
    case QEvent::ContextMenu: {
        // The box's own menu, with its Paste taking a handed-over path too.
        std::unique_ptr<QMenu> menu(box_->createStandardContextMenu());
        if (QAction* pasteAction = menu->findChild<QAction*>(QStringLiteral("edit-paste"))) {
            pasteAction->disconnect();
            connect(pasteAction, &QAction::triggered, box_, [this] {
                if (!paste(false))
                    box_->paste();
            });
        }
        menu->exec(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    default:
        return false;
    }
}
