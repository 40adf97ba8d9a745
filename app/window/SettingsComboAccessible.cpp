#include "window/SettingsComboAccessible.h"

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QAbstractItemView>
#include <QAccessibleWidget>

namespace {

const char kLabelledList[] = "pelmoraLabelledList";

// A drop-down list: its popup is its one child; pressing it opens the popup.
// Its choice is also its text, where screen readers on Linux read a list's
// value when its name is its label.
class LabelledList final : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit LabelledList(QComboBox* list) : QAccessibleWidget(list, QAccessible::ComboBox) {}

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(int start, int end) const override { return list()->currentText().mid(start, end - start); }
    int characterCount() const override { return static_cast<int>(list()->currentText().size()); }
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* start, int* end) const override
    {
        *start = 0;
        *end = characterCount();
        return {};
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return widget()->accessibleName();
        if (t == QAccessible::Value)
            return list()->currentText();
        return QAccessibleWidget::text(t);
    }
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(list()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child && child->object() == list()->view() ? 0 : -1;
    }
    QStringList actionNames() const override
    {
        return {QAccessibleActionInterface::showMenuAction(), QAccessibleActionInterface::pressAction()};
    }
    void doAction(const QString& action) override
    {
        if (action == QAccessibleActionInterface::showMenuAction() ||
            action == QAccessibleActionInterface::pressAction())
            list()->showPopup();
    }

private:
    QComboBox* list() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* labelledListFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("QComboBox") && object && object->property(kLabelledList).toBool())
        return new LabelledList(static_cast<QComboBox*>(object));
    return nullptr;
}

}  // namespace

void labelSettingsList(QComboBox* list, const QLabel* label)
{
    static const bool installed = [] {
        QAccessible::installFactory(labelledListFactory);
        return true;
    }();
    Q_UNUSED(installed);
    list->setProperty(kLabelledList, true);
    // Qt may have made the list's interface already (a screen reader that
    // listens when the window is built): it is made again, as this one.
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(list);
        made && !dynamic_cast<LabelledList*>(made))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    // A new choice is told by the list itself, as a change of its value.
    list->setAccessibleName(label->text());
}
