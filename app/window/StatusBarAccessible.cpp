#include "window/StatusBarAccessible.h"

#include "window/StatusBar.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPointer>
#include <vector>

namespace {

QString panelPurpose(int index)
{
    switch (index) {
    case 1:
        return QStringLiteral("Settings");
    case 2:
        return QStringLiteral("Port");
    case 3:
        return QStringLiteral("Connection");
    case 4:
        return QStringLiteral("Connection indicator");
    default:
        return QStringLiteral("Panel %1").arg(index);
    }
}

class AccessiblePanel final : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    AccessiblePanel(StatusBar* bar, int index) : bar_(bar), index_(index) {}

    bool isValid() const override { return bar_ && bar_->Panels(index_); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return bar_ ? bar_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(bar_.data()); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::Button; }

    QString text(QAccessible::Text t) const override
    {
        const StatusPanel* panel = isValid() ? bar_->Panels(index_) : nullptr;
        if (!panel)
            return {};
        switch (t) {
        case QAccessible::Name:
        case QAccessible::Value:
            return panel->Text().isEmpty() ? panel->ToolTipText() : panel->Text();
        case QAccessible::Description:
            return panel->KeyHint().isEmpty() ? panelPurpose(index_)
                                              : panelPurpose(index_) + QStringLiteral(". ") + panel->KeyHint();
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect local = bar_->panelRect(index_);
        return QRect(bar_->mapToGlobal(local.topLeft()), local.size());
    }

    QAccessible::State state() const override
    {
        QAccessible::State s;
        if (!isValid() || !bar_->isVisible())
            s.invisible = true;
        s.focusable = true;
        s.focused = bar_ && bar_->hasFocus() && bar_->currentPanel() == index_;
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override
    {
        if (name == pressAction() && isValid())
            bar_->clickPanel(index_);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<StatusBar> bar_;
    int index_;
};

class AccessibleStatusBar final : public QAccessibleWidget {
public:
    explicit AccessibleStatusBar(StatusBar* bar) : QAccessibleWidget(bar, QAccessible::StatusBar) {}
    ~AccessibleStatusBar() override
    {
        for (QAccessible::Id id : panels_)
            QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return bar()->Count(); }
    QAccessibleInterface* child(int index) const override
    {
        if (index < 0 || index >= childCount())
            return nullptr;
        // The description adds the panels after the bar is made.
        while (int(panels_.size()) <= index)
            panels_.push_back(
                QAccessible::registerAccessibleInterface(new AccessiblePanel(bar(), int(panels_.size()) + 1)));
        return QAccessible::accessibleInterface(panels_[size_t(index)]);
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        for (int i = 0; i < int(panels_.size()); ++i)
            if (QAccessible::accessibleInterface(panels_[size_t(i)]) == child)
                return i;
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        const StatusPanel* panel = bar()->panelAt(bar()->mapFromGlobal(QPoint(x, y)));
        return panel ? child(panel->Index() - 1) : nullptr;
    }
    QAccessibleInterface* focusChild() const override
    {
        return bar()->hasFocus() ? child(bar()->currentPanel() - 1) : nullptr;
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return QStringLiteral("Status");
        return QAccessibleWidget::text(t);
    }

private:
    StatusBar* bar() const { return static_cast<StatusBar*>(widget()); }
    // Panels are never taken away; their interfaces live as long as the bar's.
    mutable std::vector<QAccessible::Id> panels_;
};

QAccessibleInterface* statusBarFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("StatusBar") && object && object->isWidgetType())
        return new AccessibleStatusBar(static_cast<StatusBar*>(object));
    return nullptr;
}

}  // namespace

void installStatusBarAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(statusBarFactory);
        return true;
    }();
    Q_UNUSED(installed);
}
