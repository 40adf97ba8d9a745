// The whole program from the keyboard alone, against the emulator: settings,
// connect, file, slot, Load, the completion message, disconnect.

#include "E2ERig.h"
#include "window/StatusBar.h"

#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

class KeyboardE2ETest : public QObject {
    Q_OBJECT

private slots:
    void loadWithKeysAlone();
};

void KeyboardE2ETest::loadWithKeysAlone()
{
    E2ERig rig;
    rig.boxes.holdMs = 600000;  // the operator closes it, with Return
    QVERIFY(rig.start({QStringLiteral("--release-after"), QStringLiteral("1")}));
    Form1& f = *rig.form;
    f.activateWindow();
    const auto key = [&](Qt::Key k, Qt::KeyboardModifiers m = {}) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &f, k, m);
    };

    key(Qt::Key_F2);
    QVERIFY(f.Frame2->isVisible());
    for (int i = 0; i < 8; ++i) {  // Tab goes round the frame, never under it
        key(Qt::Key_Tab);
        QVERIFY(f.Frame2->isAncestorOf(QApplication::focusWidget()));
    }
    while (QApplication::focusWidget() != f.Command2)
        key(Qt::Key_Tab);
    key(Qt::Key_Return);
    QVERIFY(f.Frame2->isHidden());
    QCOMPARE(rig.panel(1), QStringLiteral("Setting  :  9600,E,7,1"));

    for (int i = 0; i < 20 && !f.StatusBar1->hasFocus(); ++i)
        key(Qt::Key_Tab);  // the bar takes the focus at panel 1
    for (int i = 0; i < 3; ++i)
        key(Qt::Key_Tab);
    QCOMPARE(f.StatusBar1->currentPanel(), 4);
    key(Qt::Key_Enter);
    QCOMPARE(rig.panel(3), QStringLiteral("Connected :"));

    const QString path = rig.writeFile(QStringLiteral("keys.txt"), "kbd");
    key(Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), f.Text1);
    QTest::keyClicks(f.Text1, path);
    key(Qt::Key_Tab);  // "..."
    key(Qt::Key_Tab);  // "Load"
    key(Qt::Key_Tab);  // External1
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    QVERIFY(f.Option1[2]->isChecked() && f.Option1[2]->hasFocus());

    QTimer closer;  // Return on the completion message, once it is there
    connect(&closer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            QTest::keyClick(box, Qt::Key_Return);
    });
    closer.start(300);
    key(Qt::Key_Return);  // "Load" is the default button
    QVERIFY(f.Command1->isHidden());
    QTRY_VERIFY_WITH_TIMEOUT(!f.MSComm1.PortOpen(), 20000);
    QCOMPARE(rig.boxes.seen.size(), size_t(1));

    QFile got(rig.emulator.outDir() + QStringLiteral("/Externl3.ejf"));
    QVERIFY(got.open(QIODevice::ReadOnly));
    QCOMPARE(got.readAll(), QByteArray("kbd"));

    key(Qt::Key_F5);
    QCOMPARE(rig.panel(3), QStringLiteral("Connected :"));
    key(Qt::Key_F5);
    QCOMPARE(rig.tip(4), QStringLiteral("No Connection"));
    QTRY_VERIFY_WITH_TIMEOUT(!f.MSComm1.PortOpen(), 10000);
}

QTEST_MAIN(KeyboardE2ETest)
#include "tst_e2e_keyboard.moc"
