// What assistive technology sees, through Qt's own accessible interfaces:
// the status panels with their texts and press action, the change told when
// connecting, the lists named by their labels and telling their choice, and
// the progress told at most once a second of the stream.

#include "Form1.h"
#include "VirtualDevice.h"
#include "window/StatusBar.h"

#include <QAccessible>
#include <private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {
struct Told {
    QAccessible::Event type;
    QObject* object;
    QString name;   // the name of what it was about, when it was told
    QString value;
};
std::vector<Told> told;

void record(QAccessibleEvent* event)
{
    QAccessibleInterface* about = event->accessibleInterface();
    told.push_back({event->type(), event->object(), about ? about->text(QAccessible::Name) : QString(),
                    about ? about->text(QAccessible::Value) : QString()});
}
}  // namespace

class TestAccessibility : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QAccessible::installUpdateHandler(record);
        // As if a screen reader were listening (Qt's own tests do the same).
        QPlatformAccessibility* platform = QGuiApplicationPrivate::platformIntegration()->accessibility();
        QVERIFY(platform);
        platform->setActive(true);
    }

    void panelsListsAndProgress()
    {
        VirtualSeams v;
        Form1 form(v.seams());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(form.StatusBar1);
        QCOMPARE(bar->childCount(), 4);
        const QStringList names{"Setting  :  9600,E,7,1", "Port : 1", "No Connection  :", "No Connection"};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(bar->child(i)->text(QAccessible::Name), names[i]);
            QCOMPARE(bar->child(i)->role(), QAccessible::Button);
        }
        QVERIFY(bar->child(3)->text(QAccessible::Description).contains(QStringLiteral("F5")));

        // The indicator's press action connects, and the new text is told.
        told.clear();
        bar->child(3)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(form.StatusBar1->Panels(3)->Text(), QStringLiteral("Connected :"));
        QVERIFY(std::any_of(told.begin(), told.end(), [&](const Told& t) {
            return t.type == QAccessible::NameChanged && t.object == form.StatusBar1 && t.name == "Connected :";
        }));

        // The lists are labelled by their labels (a list's own name is its value here).
        const std::vector<std::pair<QWidget*, QString>> labelled{
            {form.Combo1, "Port"},        {form.Combo2[0], "Baud Rate"}, {form.Combo2[1], "Parity"},
            {form.Combo2[2], "Data Length"}, {form.Combo2[3], "Stop Bit"}, {form.Text1, "File"}};
        for (const auto& [widget, label] : labelled) {
            const auto by = QAccessible::queryAccessibleInterface(widget)->relations(QAccessible::Label);
            QVERIFY2(!by.isEmpty(), qPrintable(label));
            QCOMPARE(by.first().first->text(QAccessible::Name), label);
        }
        QCOMPARE(QAccessible::queryAccessibleInterface(form.Text1)->text(QAccessible::Name), QStringLiteral("File"));
        // A list is named by its label and tells its choice; a new choice is told with the new value.
        for (const auto& [widget, label] : labelled) {
            auto* list = qobject_cast<QComboBox*>(widget);
            if (!list)
                continue;
            list->addItem(QStringLiteral("x"));
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(list);
            QCOMPARE(iface->text(QAccessible::Name), label);
            QCOMPARE(iface->text(QAccessible::Value), list->currentText());
            told.clear();
            list->setCurrentIndex((list->currentIndex() + 1) % list->count());
            QVERIFY2(std::any_of(told.begin(), told.end(), [&](const Told& t) {
                         return t.type == QAccessible::ValueChanged && t.object == list && t.name == label &&
                                t.value == list->currentText();
                     }),
                     qPrintable(label));
        }
        QCOMPARE(QAccessible::queryAccessibleInterface(form.ZelkorLogo1)->text(QAccessible::Name), QStringLiteral("Zelkor"));

        // 1,000 bytes stream for 16.15 s of the program's clock.
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("label.bin")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(1000, 'x'));
        file.close();
        form.Text1->setText(file.fileName());
        told.clear();
        form.Command1->click();
        form.Timer2_Timer();
        std::vector<Told> progress;
        std::copy_if(told.begin(), told.end(), std::back_inserter(progress),
                     [&](const Told& t) { return t.object == form.ProgressBar1; });
        QVERIFY2(progress.size() >= 14 && progress.size() <= 17, qPrintable(QString::number(progress.size())));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d+ %, \\d+ seconds? left$")).match(progress[5].value).hasMatch());
    }
};

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
