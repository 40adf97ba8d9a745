// The main window: its description, the state after start-up, the layout
// rule, confirming the settings frame and choosing the file.

#include "FakeDialogs.h"
#include "VirtualDevice.h"
#include "Form1.h"
#include "Pty.h"
#include "link/Errors.h"
#include "connection/PortDiscovery.h"
#include "window/CommonDialog.h"
#include "window/StatusBar.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QUrl>
#include <cmath>
#include <memory>
#include <fcntl.h>
#include <unistd.h>

namespace {

struct Rig {
    std::shared_ptr<FakeDialogs> dialogs = std::make_shared<FakeDialogs>();
    QList<LineSettings> openedWith;
    std::unique_ptr<Form1> form;

    Rig()
    {
        Seams seams = Seams::production();
        seams.dialogs = dialogs;
        seams.openLine = [this, real = seams.openLine](short port, const LineSettings& settings) {
            auto line = real(port, settings);
            openedWith << settings;
            return line;
        };
        form = std::make_unique<Form1>(std::move(seams));
    }
};

QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(qRound(left / 15.0), qRound(top / 15.0), qRound(width / 15.0), qRound(height / 15.0));
}

// WCAG contrast of two colours, 1 to 21.
double contrast(QColor a, QColor b)
{
    const auto lum = [](QColor c) {
        const auto lin = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
    };
    const double x = lum(a), y = lum(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

// The best contrast any pixel of the area has with what is behind the text
// there (the area's corner): the text's own.
double textContrast(QWidget* w, QRect area)
{
    const QImage image = w->grab(area).toImage();
    const QColor background = image.pixelColor(0, 0);
    double best = 1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            best = std::max(best, contrast(image.pixelColor(x, y), background));
    return best;
}

QStringList itemsOf(const QComboBox* box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

}  // namespace

class TestWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<Pty> pty_;

private slots:
    void init()
    {
        pty_ = std::make_unique<Pty>();
        QVERIFY(pty_->isValid());
        qputenv("PELMORA_PORTS", pty_->slavePath().toLocal8Bit());
    }

    void cleanup()
    {
        qunsetenv("PELMORA_PORTS");
        pty_.reset();
    }

    // ---- the description ---------------------------------------------------

    void controlsWhereTheDescriptionPutsThem_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("container");
        QTest::addColumn<QRect>("pixels");
        const auto row = [](const char* name, const char* container, int l, int t, int w, int h) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(container) << twipsRect(l, t, w, h);
        };
        row("Frame2", "Form1", 1560, 1575, 4515, 1620);
        row("Command2", "Frame2", 3390, 195, 1035, 360);
        row("Combo1", "Frame2", 1080, 255, 1605, 315);
        row("Combo2_0", "Frame2", 1080, 735, 1080, 315);
        row("Combo2_1", "Frame2", 1080, 1200, 1080, 315);
        row("Combo2_2", "Frame2", 3360, 720, 1080, 315);
        row("Combo2_3", "Frame2", 3360, 1185, 1080, 315);
        row("Label2_4", "Frame2", 120, 315, 360, 195);
        row("Label2_0", "Frame2", 105, 795, 915, 195);
        row("Label2_1", "Frame2", 105, 1260, 495, 195);
        row("Label2_2", "Frame2", 2235, 780, 1065, 195);
        row("Label2_3", "Frame2", 2235, 1245, 690, 195);
        row("StatusBar1", "Form1", 0, 5580, 7215, 300);
        row("ZelkorLogo1", "Form1", 1200, 390, 4500, 1500);
        row("Frame1", "Form1", 2460, 3420, 4590, 1875);
        row("Option1_4", "Frame1", 2400, 900, 1000, 225);
        row("Option1_3", "Frame1", 1275, 1050, 1000, 225);
        row("Option1_2", "Frame1", 1275, 750, 1000, 225);
        row("Option1_1", "Frame1", 120, 1050, 1000, 225);
        row("Option1_0", "Frame1", 120, 750, 1000, 225);
        row("ProgressBar1", "Frame1", 60, 1410, 4485, 390);
        row("Command1", "Frame1", 3570, 855, 945, 390);
        row("Command3", "Frame1", 4185, 285, 330, 315);
        row("Text1", "Frame1", 810, 255, 3300, 330);
        row("Label2_5", "Frame1", 165, 300, 315, 195);
    }

    void controlsWhereTheDescriptionPutsThem()
    {
        QFETCH(QString, name);
        QFETCH(QString, container);
        QFETCH(QRect, pixels);
        Rig rig;  // not shown: no layout has run yet
        const QWidget* control = rig.form->findChild<QWidget*>(name);
        QVERIFY2(control, qPrintable(name));
        QCOMPARE(control->parentWidget()->objectName(), container);
        QCOMPARE(control->geometry(), pixels);
    }

    void windowAndControlProperties()
    {
        Rig rig;
        Form1& f = *rig.form;
        QCOMPARE(f.windowTitle(), QStringLiteral("Zelkor RV7k Label Loading Program"));
        QCOMPARE(f.size(), QSize(481, 392));
        QVERIFY(f.windowIcon().availableSizes().contains(QSize(32, 32)));
        QVERIFY(f.windowIcon().availableSizes().contains(QSize(16, 16)));
        QCOMPARE(f.palette().color(QPalette::Window), QColor(0xB4, 0xB4, 0xB4));
        QCOMPARE(f.Frame2->palette().color(QPalette::Window), QColor(0xB4, 0xB4, 0xB4));
        QVERIFY(f.Frame2->autoFillBackground());  // it covers Frame1 when shown

        QCOMPARE(f.Frame1->title(), QStringLiteral("Label Loading"));
        QCOMPARE(f.Frame2->title(), QStringLiteral("Connection Settings"));
        QVERIFY(f.Frame2->isHidden());
        QVERIFY(!f.Frame1->isHidden());
        const QObjectList& stack = f.children();
        QVERIFY(stack.indexOf(f.Frame2) > stack.indexOf(f.Frame1));

        f.ensurePolished();
        const QStringList captions{"Baud Rate", "Parity", "Data Length", "Stop Bit", "Port", "File"};
        for (int i = 0; i < 6; ++i) {
            f.Label2[i]->ensurePolished();
            QCOMPARE(f.Label2[i]->text(), captions[i]);
            QCOMPARE(f.Label2[i]->font().family(), QStringLiteral("MS Sans Serif"));
            QCOMPARE(f.Label2[i]->font().pointSizeF(), 8.25);
            QVERIFY(f.Label2[i]->font().bold());
        }
        f.Command3->ensurePolished();
        QCOMPARE(f.Command3->font().family(), QStringLiteral("Garamond"));
        QCOMPARE(f.Command3->font().pointSizeF(), 9.75);
        QVERIFY(f.Command3->font().bold());
        QCOMPARE(f.Command1->text(), QStringLiteral("Load"));
        QCOMPARE(f.Command2->text(), QStringLiteral("OK"));
        QCOMPARE(f.Command3->text(), QStringLiteral("..."));

        for (int i = 0; i < 5; ++i) {
            QCOMPARE(f.Option1[i]->text(), QStringLiteral("External%1").arg(i + 1));
            QCOMPARE(f.Option1[i]->property("Tag").toString(), QStringLiteral("Externl%1").arg(i + 1));
            QCOMPARE(f.Option1[i]->isChecked(), i == 0);
        }
        f.Option1[3]->click();
        QVERIFY(!f.Option1[0]->isChecked());  // one group: exactly one selected

        QCOMPARE(itemsOf(f.Combo1), QStringList{});
        QCOMPARE(itemsOf(f.Combo2[0]), (QStringList{"1200", "2400", "4800", "9600", "19200"}));
        QCOMPARE(itemsOf(f.Combo2[1]), (QStringList{"N", "E"}));
        QCOMPARE(itemsOf(f.Combo2[2]), (QStringList{"7", "8"}));
        QCOMPARE(itemsOf(f.Combo2[3]), (QStringList{"0", "1", "2"}));
        for (const QComboBox* box : {f.Combo1, f.Combo2[0], f.Combo2[1], f.Combo2[2], f.Combo2[3]}) {
            QVERIFY(!box->isEditable());
            QCOMPARE(box->currentIndex(), -1);
        }
        QVERIFY(f.Text1->text().isEmpty());
        QVERIFY(!f.Text1->isReadOnly());
        QCOMPARE(f.ProgressBar1->minimum(), 0);
        QCOMPARE(f.ProgressBar1->maximum(), 100);
        QCOMPARE(f.ProgressBar1->value(), 0);

        QVERIFY(!f.Timer1.isActive());
        QVERIFY(!f.Timer2.isActive());
        QCOMPARE(f.Timer1.interval(), 100);
        QCOMPARE(f.Timer2.interval(), 300);
        QCOMPARE(f.MSComm1.CommPort(), short(1));
        QCOMPARE(f.MSComm1.Settings(), QStringLiteral("9600,n,8,1"));
        QVERIFY(!f.MSComm1.PortOpen());
    }

    void tabOrderRunsTopToBottomLeftToRight()
    {
        Rig rig;
        Form1& f = *rig.form;
        const QList<QWidget*> expected{f.StatusBar1, f.Combo1, f.Command2, f.Combo2[0], f.Combo2[2], f.Combo2[1],
                                       f.Combo2[3],  f.Text1,     f.Command3,  f.Command1,  f.Option1[0],
                                       f.Option1[1], f.Option1[2], f.Option1[3], f.Option1[4]};
        QList<QWidget*> chain;
        QWidget* w = expected.first();
        do {
            if (expected.contains(w))
                chain << w;
            w = w->nextInFocusChain();
        } while (w != expected.first());
        QCOMPARE(chain, expected);
    }

    void textReadsUnderEveryStyle_data()
    {
        QTest::addColumn<QString>("style");
        QTest::addColumn<bool>("dark");
        QTest::newRow("Fusion") << QStringLiteral("Fusion") << false;
        QTest::newRow("Fusion, dark scheme") << QStringLiteral("Fusion") << true;
        for (const QString& style : {QStringLiteral("Adwaita"), QStringLiteral("Adwaita-Dark")})
            if (QStyleFactory::keys().contains(style, Qt::CaseInsensitive))
                QTest::newRow(qPrintable(style)) << style << false;
    }

    void textReadsUnderEveryStyle()
    {
        QFETCH(QString, style);
        QFETCH(bool, dark);
        const QPalette desktop = QApplication::palette();
        QApplication::setStyle(style);
        // A dark scheme as qt6ct or GTK give it: light text on dark.
        QApplication::setPalette(dark ? QPalette(QColor(0x30, 0x30, 0x30), QColor(0x20, 0x20, 0x20))
                                      : QApplication::style()->standardPalette());
        {
            Rig rig;
            Form1& f = *rig.form;
            f.Frame2->show();
            for (QRadioButton* slot : f.Option1) {
                QStyleOptionButton option;
                option.initFrom(slot);
                option.text = slot->text();
                const QRect text = slot->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, slot);
                QVERIFY2(text.right() < slot->width() &&
                             text.width() >= slot->fontMetrics().horizontalAdvance(slot->text()),
                         qPrintable(slot->text()));
                QVERIFY2(textContrast(slot, text) >= 4.5, qPrintable(slot->text()));
            }
            for (QLabel* label : f.Label2)
                QVERIFY2(textContrast(label, label->rect()) >= 4.5, qPrintable(label->text()));
        }
        QApplication::setStyle(QStringLiteral("Fusion"));
        QApplication::setPalette(desktop);
    }

    void handedOverFilesBecomePlainPathsAndLoad()
    {
        VirtualSeams v;
        Form1 form(v.seams());
        form.Form_Load();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("my label.txt"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("ab");
        file.close();

        const auto drop = [&](QMimeData* data, QWidget* onto) {
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data, Qt::LeftButton, {});
            QApplication::sendEvent(onto, &enter);
            form.Text1->setToolTip({});  // what the hover said; the drop must say it again
            QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, data, Qt::LeftButton, {});
            QApplication::sendEvent(onto, &dropped);
            delete data;
        };
        auto* urls = new QMimeData;
        urls->setUrls({QUrl::fromLocalFile(dir.path())});
        drop(urls, form.Text1);
        QVERIFY(form.Text1->text().isEmpty());
        QVERIFY(form.Text1->toolTip().contains(QStringLiteral("folder")));
        urls = new QMimeData;
        urls->setUrls({QUrl::fromLocalFile(path)});
        drop(urls, &form);  // anywhere on the window
        QCOMPARE(form.Text1->text(), path);

        const QString uri = QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
        for (const QString& pasted : {uri + "\n", "\"" + path + "\"", "'" + path + "'  "}) {
            form.Text1->clear();
            QApplication::clipboard()->setText(pasted);
            QTest::keySequence(form.Text1, QKeySequence::Paste);
            QCOMPARE(form.Text1->text(), path);
        }
        QTest::keyClicks(form.Text1, QStringLiteral(" "));  // typed: left as typed
        QCOMPARE(form.Text1->text(), path + " ");
        form.Text1->clear();
        QApplication::clipboard()->setText(uri + "\n" + uri + "\n");  // two files: no path runs them together
        QTest::keySequence(form.Text1, QKeySequence::Paste);
        QCOMPARE(form.Text1->text(), QString());
        QVERIFY(form.Text1->toolTip().contains(QStringLiteral("one label file")));
        // A name that is no valid text loads by its bytes, as the command line does.
        const QByteArray native = QFile::encodeName(dir.path()) + "/\xe9tiquette.txt";
        const int fd = ::open(native.constData(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0 && ::write(fd, "xyz", 3) == 3 && ::close(fd) == 0);
        urls = new QMimeData;
        urls->setUrls({QUrl::fromEncoded("file://" + native.toPercentEncoding("/"))});
        drop(urls, &form);

        form.StatusBar1_PanelClick(form.StatusBar1->Panels(4));
        form.Command1->click();
        form.Timer2_Timer();
        ::unlink(native.constData());  // a name no text stands for is beyond QTemporaryDir
        QVERIFY(v.timeline->payloads().contains(QStringLiteral("%3#")));
        QCOMPARE(v.dialogs->messages.last().text, QStringLiteral("Loading file process completed"));
    }

    void portHeldByASecondPelmoraIsNoPermissionMatter()
    {
        VirtualSeams v;
        Seams seams = v.seams();
        seams.openLine = [](short, const LineSettings&) -> std::unique_ptr<SerialLine> {
            throw PelmoraError(ErrorNumber::PortAlreadyOpen, QStringLiteral("/dev/ttyUSB0 is in use by another program: "
                                                                            "pelmora (process 4711) (Permission error "
                                                                            "while locking the device)"));
        };
        Form1 form(std::move(seams));
        form.StatusBar1->clickPanel(4);
        QCOMPARE(v.dialogs->messages.size(), 1);
        QCOMPARE(v.dialogs->messages[0].text, QStringLiteral("Error 8005: Port already open: /dev/ttyUSB0 is in use "
                                                             "by another program: pelmora (process 4711)"));
    }

    void logoCreatedByClassName()
    {
        Rig rig;
        Form1& f = *rig.form;
        QVERIFY2(f.logoFailure().isEmpty(), qPrintable(f.logoFailure()));
        QVERIFY(f.ZelkorLogo1->parentWidget() == &f);
        QCOMPARE(f.ZelkorLogo1->size(), QSize(300, 100));
        QCOMPARE(f.ZelkorLogo1->pos(), QPoint(80, 26));
        QVERIFY(f.findChildren<QWidget*>(QStringLiteral("ZelkorLogo1")).size() == 1);  // the site is gone
    }

    // ---- start-up -------------------------------------------------------------

    void stateAfterStartUp()
    {
        Rig rig;
        Form1& f = *rig.form;
        f.show();  // the load event runs as the window is first shown
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QCOMPARE(itemsOf(f.Combo1), QStringList{"1"});
        QCOMPARE(f.Combo1->currentText(), QStringLiteral("1"));
        QCOMPARE(f.PortNumber, QStringLiteral("1"));
        // Never so small that a status panel or the loading frame is lost.
        QVERIFY(f.minimumWidth() > f.StatusBar1->panelRect(4).right() && f.minimumWidth() >= f.Frame1->width());
        QVERIFY(f.minimumHeight() >= f.Frame1->height() + f.StatusBar1->height());
        QCOMPARE(f.PortSettings, QStringLiteral("9600,n,8,1"));
        QCOMPARE(f.Combo2[0]->currentText(), QStringLiteral("9600"));
        QCOMPARE(f.Combo2[1]->currentText(), QStringLiteral("E"));
        QCOMPARE(f.Combo2[2]->currentText(), QStringLiteral("7"));
        QCOMPARE(f.Combo2[3]->currentText(), QStringLiteral("1"));

        StatusBar& bar = *f.StatusBar1;
        QCOMPARE(bar.Count(), 4);
        QCOMPARE(bar.Panels(1)->Text(), QStringLiteral("Setting  :  9600,E,7,1"));
        QCOMPARE(bar.Panels(2)->Text(), QStringLiteral("Port : 1"));
        QCOMPARE(bar.Panels(3)->Text(), QStringLiteral("No Connection  :"));
        QCOMPARE(bar.Panels(4)->Text(), QString());
        for (int i = 1; i <= 3; ++i)
            QCOMPARE(bar.Panels(i)->ToolTipText(), QString());
        QCOMPARE(bar.Panels(4)->ToolTipText(), QStringLiteral("No Connection"));
        QVERIFY(!bar.Panels(1)->Picture().isNull());
        QVERIFY(!bar.Panels(2)->Picture().isNull());
        QVERIFY(bar.Panels(3)->Picture().isNull());
        QVERIFY(!bar.Panels(4)->Picture().isNull());
        const QList<float> widths{1830, 1440, 3300, 300}, minimums{1440, 1440, 1440, 300};
        for (int i = 1; i <= 4; ++i) {
            QCOMPARE(bar.Panels(i)->Width(), widths[i - 1]);
            QCOMPARE(bar.Panels(i)->MinWidth(), minimums[i - 1]);
        }

        QVERIFY(!f.MSComm1.PortOpen());
        QVERIFY(!f.Timer1.isActive() && !f.Timer2.isActive());
        QVERIFY(f.Frame2->isHidden());
        QVERIFY(rig.dialogs->messages.isEmpty());

        // Showing again (a restore) does not scan again.
        const int opened = rig.openedWith.size();
        f.hide();
        f.show();
        QCOMPARE(rig.openedWith.size(), opened);
        QCOMPARE(f.Combo1->count(), 1);
    }

    void connectAfterStartUpUsesTheStartUpSettings()
    {
        Rig rig;
        Form1& f = *rig.form;
        f.Form_Load();
        rig.openedWith.clear();
        f.PortAç();
        QVERIFY(f.MSComm1.PortOpen());
        QCOMPARE(f.MSComm1.Settings(), QStringLiteral("9600,n,8,1"));
        QCOMPARE(rig.openedWith.size(), 1);
        QCOMPARE(rig.openedWith[0].baud, 9600);
        QVERIFY(rig.openedWith[0].parity == LineSettings::Parity::None);
        QCOMPARE(rig.openedWith[0].dataBits, 8);
        QVERIFY(rig.openedWith[0].stopBits == LineSettings::StopBits::One);
        // A second connect closes the open port first instead of failing with 8005.
        f.PortAç();
        QVERIFY(f.MSComm1.PortOpen());
        QCOMPARE(rig.openedWith.size(), 2);
    }

    void portAcConvertsThePortNumber()
    {
        Rig rig;
        Form1& f = *rig.form;
        f.Form_Load();
        f.PortNumber = QStringLiteral("one");
        try {
            f.PortAç();
            QFAIL("a port number that is no number was taken");
        } catch (const PelmoraError& e) {
            QCOMPARE(e.number(), ErrorNumber::TypeMismatch);
        }
        QVERIFY(!f.MSComm1.PortOpen());
    }

    // ---- layout rule ------------------------------------------------------------

    void layoutWorkedExample()
    {
        Rig rig;
        Form1& f = *rig.form;
        f.applyLayout(7335, 6285);
        QCOMPARE(f.logoPlacement().Left, 2635.0f);
        QCOMPARE(f.logoPlacement().Top, 100.0f);
        QCOMPARE(f.frame1Placement().Left, 1372.5f);
        QCOMPARE(f.frame1Placement().Top, 2205.0f);
        QCOMPARE(f.frame2Placement().Left, 1410.0f);
        QCOMPARE(f.frame2Placement().Top, 2332.5f);
        // The widgets get the twips rounded to pixels.
        QCOMPARE(f.ZelkorLogo1->pos(), QPoint(176, 7));
        QCOMPARE(f.Frame1->pos(), QPoint(92, 147));
        QCOMPARE(f.Frame2->pos(), QPoint(94, 156));

        f.applyLayout(7335 + 1000, 6285);
        QCOMPARE(f.logoPlacement().Left, 3635.0f);
        QCOMPARE(f.frame1Placement().Left, 1872.5f);
        QCOMPARE(f.frame2Placement().Left, 1910.0f);
        QCOMPARE(f.frame1Placement().Top, 2205.0f);

        f.applyLayout(4000, 3000);
        QCOMPARE(f.frame1Placement().Left, -295.0f);
        QVERIFY(f.Frame1->x() < 0);
        QCOMPARE(f.frame1Placement().Top, 562.5f);
        // The frames are placed whether visible or not; nothing else moves.
        QVERIFY(f.Frame2->isHidden());
        QCOMPARE(f.frame2Placement().Left, -257.5f);
        QCOMPARE(f.Text1->pos(), QPoint(54, 17));
    }

    void resizingRunsTheRuleOnTheOuterSize()
    {
        Rig rig;
        Form1& f = *rig.form;
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        for (const QSize size : {QSize(489, 419), QSize(700, 500), QSize(250, 200), QSize(481, 392)}) {
            f.resize(size);
            QCoreApplication::processEvents();
            const QRect outer = f.frameGeometry();
            const float W = float(outer.width()) * 15.0f, H = float(outer.height()) * 15.0f;
            QCOMPARE(f.logoPlacement().Left, W - 4500.0f - 200.0f);
            QCOMPARE(f.frame1Placement().Left, (W - 4590.0f) / 2.0f);
            QCOMPARE(f.frame1Placement().Top, (H - 1875.0f) / 2.0f);
            QCOMPARE(f.frame2Placement().Top, (H - 1620.0f) / 2.0f);
            QCOMPARE(f.StatusBar1->geometry(), QRect(0, f.height() - 20, f.width(), 20));
        }
    }

    // ---- settings frame ---------------------------------------------------------

    void okWithTheInitialSelections()
    {
        Rig rig;
        Form1& f = *rig.form;
        f.Form_Load();
        f.Frame2->setVisible(true);
        f.Command2->click();
        QVERIFY(rig.dialogs->messages.isEmpty());
        QCOMPARE(f.PortSettings, QStringLiteral("9600,E,7,1"));
        QCOMPARE(f.PortNumber, QStringLiteral("1"));
        QCOMPARE(f.StatusBar1->Panels(1)->Text(), QStringLiteral("Setting  :  9600,E,7,1"));
        QCOMPARE(f.StatusBar1->Panels(2)->Text(), QStringLiteral("Port : 1"));
        QCOMPARE(f.MSComm1.Settings(), QStringLiteral("9600,E,7,1"));
        QCOMPARE(f.MSComm1.CommPort(), short(1));
        QVERIFY(f.Frame2->isHidden());
        QVERIFY(!f.MSComm1.PortOpen());  // used at the next opening
        f.PortAç();
        QVERIFY(rig.openedWith.last().parity == LineSettings::Parity::Even);
        QCOMPARE(rig.openedWith.last().dataBits, 7);
    }

    void cancelledSettingsAreNeverAppliedByALaterOk()
    {
        Rig rig;
        Form1& f = *rig.form;
        f.Form_Load();
        f.show();
        f.StatusBar1_PanelClick(f.StatusBar1->Panels(1));
        f.Combo2[0]->setCurrentText(QStringLiteral("1200"));
        QTest::keyClick(&f, Qt::Key_Escape);
        QVERIFY(f.Frame2->isHidden());
        f.StatusBar1_PanelClick(f.StatusBar1->Panels(1));
        QCOMPARE(f.Combo2[0]->currentText(), QStringLiteral("9600"));
        f.Command2->click();
        QCOMPARE(f.PortSettings, QStringLiteral("9600,E,7,1"));
    }

    void refusedSettingsAreReportedOnceAndTheFrameStays()
    {
        Rig rig;
        Form1& f = *rig.form;
        f.Form_Load();
        f.Frame2->setVisible(true);
        f.Combo2[3]->setCurrentText(QStringLiteral("0"));
        f.Combo2[0]->setCurrentText(QStringLiteral("19200"));
        f.Command2->click();
        QCOMPARE(rig.dialogs->messages.size(), 1);
        QVERIFY2(rig.dialogs->messages[0].text.startsWith(QStringLiteral("Error 380")),
                 qPrintable(rig.dialogs->messages[0].text));
        QVERIFY(rig.dialogs->messages[0].icon == OperatorDialogs::Icon::Error);
        QVERIFY(!f.Frame2->isHidden());
        // The steps before the refusal stand.
        QCOMPARE(f.PortSettings, QStringLiteral("19200,E,7,0"));
        QCOMPARE(f.StatusBar1->Panels(1)->Text(), QStringLiteral("Setting  :  19200,E,7,0"));
        QCOMPARE(f.MSComm1.Settings(), QStringLiteral("9600,n,8,1"));
    }

    void okWithNoPortListedIsAConversionError()
    {
        qputenv("PELMORA_PORTS", "/nonexistent/pelmora-port");
        Rig rig;
        Form1& f = *rig.form;
        f.Form_Load();
        QCOMPARE(f.StatusBar1->Panels(2)->Text(), QStringLiteral("Port : "));
        f.Frame2->setVisible(true);
        f.Command2->click();
        QCOMPARE(rig.dialogs->messages.size(), 1);
        QVERIFY2(rig.dialogs->messages[0].text.startsWith(QStringLiteral("Error 13")),
                 qPrintable(rig.dialogs->messages[0].text));
        QVERIFY(!f.Frame2->isHidden());
        QCOMPARE(f.StatusBar1->Panels(1)->Text(), QStringLiteral("Setting  :  9600,E,7,1"));
    }

    void toInteger16_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("error");  // 0: converts to value
        QTest::newRow("plain") << "1" << 1 << 0;
        QTest::newRow("ten") << "10" << 10 << 0;
        QTest::newRow("blanks") << " 3 " << 3 << 0;
        QTest::newRow("half to even") << "2.5" << 2 << 0;
        QTest::newRow("lowest") << "-32768" << -32768 << 0;
        QTest::newRow("highest") << "32767" << 32767 << 0;
        QTest::newRow("empty") << "" << 0 << ErrorNumber::TypeMismatch;
        QTest::newRow("letters") << "COM1" << 0 << ErrorNumber::TypeMismatch;
        QTest::newRow("too big") << "32768" << 0 << ErrorNumber::Overflow;
        QTest::newRow("too small") << "-40000" << 0 << ErrorNumber::Overflow;
    }

    void toInteger16()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QFETCH(int, error);
        int number = 0;
        int got = 0;
        try {
            got = ::toInteger16(text);
        } catch (const PelmoraError& e) {
            number = e.number();
        }
        QCOMPARE(number, error);
        if (error == 0)
            QCOMPARE(got, value);
    }

    // ---- file choice --------------------------------------------------------------

    void chosenFileFillsTheBoxAndCancelKeepsIt()
    {
        Rig rig;
        Form1& f = *rig.form;
        rig.dialogs->openFileAnswers = {QStringLiteral("/home/op/labels/first.txt"), QString()};
        f.Command3->click();
        QCOMPARE(f.Text1->text(), QStringLiteral("/home/op/labels/first.txt"));
        f.Command3->click();  // cancelled
        QCOMPARE(f.Text1->text(), QStringLiteral("/home/op/labels/first.txt"));

        QCOMPARE(rig.dialogs->openFileCalls.size(), 2);
        QCOMPARE(rig.dialogs->openFileCalls[0].filter, QStringLiteral("Label files (*.txt *.epl);;All files (*)"));
        QCOMPARE(rig.dialogs->openFileCalls[0].initialFileName, QString());
        QCOMPARE(rig.dialogs->openFileCalls[1].initialFileName, QStringLiteral("/home/op/labels/first.txt"));
        QCOMPARE(f.CommonDialog1->Filter, QStringLiteral("*.txt,*.epl"));
        QVERIFY(rig.dialogs->messages.isEmpty());
    }

    void cancelLeavesATypedPathAlone()
    {
        Rig rig;
        Form1& f = *rig.form;
        f.Text1->setText(QStringLiteral("/home/op/labels/typed.txt"));
        f.Command3->click();  // cancelled on its first opening
        QCOMPARE(f.Text1->text(), QStringLiteral("/home/op/labels/typed.txt"));
        QCOMPARE(rig.dialogs->openFileCalls.size(), 1);
        QCOMPARE(rig.dialogs->openFileCalls[0].title, QStringLiteral("Choose the label file to load"));
        QCOMPARE(rig.dialogs->openFileCalls[0].initialFileName, QStringLiteral("/home/op/labels/typed.txt"));
    }

    void presentedFilter_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("presented");
        QTest::newRow("comma list") << "*.txt,*.epl" << "Label files (*.txt *.epl);;All files (*)";
        QTest::newRow("semicolon list") << "*.txt;*.ejf" << "Label files (*.txt *.ejf);;All files (*)";
        QTest::newRow("pairs") << "Text|*.txt|Labels|*.epl;*.ejf"
                               << "Text (*.txt);;Labels (*.epl *.ejf);;All files (*)";
        QTest::newRow("empty") << "" << "All files (*)";
    }

    void presentedFilter()
    {
        QFETCH(QString, filter);
        QFETCH(QString, presented);
        QCOMPARE(CommonDialog::presentedFilter(filter), presented);
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
