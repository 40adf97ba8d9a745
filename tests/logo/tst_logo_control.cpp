// The ZelkorLogo control as a container gets it: created by class name,
// grabbed to an image, resized and moved.

#include "Create.h"
#include "ZelkorLogoForm.h"
#include "ZelkorLogoIds.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QImage>
#include <QResizeEvent>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>
#include <memory>
#include <vector>

namespace {

constexpr QRgb White = 0xFFFFFFFF;
constexpr QRgb Green = 0xFF008000;
constexpr QRgb Navy = 0xFF000080;

// Pixel boxes worked out from the twips of the logo's element table.
const QRect Card(0, 0, 298, 99);
const QRect FrameOuter(6, 7, 287, 86);   // 5 px border centred on the box 8,9 283x82
const QRect FrameHole(11, 12, 277, 76);
const QRect Label1Box(10, 4, 281, 65);
const QRect Label2Box(10, 68, 281, 18);

bool inFrame(const QPoint& p)
{
    return FrameOuter.contains(p) && !FrameHole.contains(p);
}

bool navyish(QRgb c)
{
    return qBlue(c) > qRed(c) + 40 && qBlue(c) > qGreen(c) + 40;
}

bool greenish(QRgb c)
{
    return qGreen(c) > qRed(c) + 40 && qGreen(c) > qBlue(c) + 40;
}

QString at(const QPoint& p, QRgb c)
{
    return QStringLiteral("(%1,%2) is #%3").arg(p.x()).arg(p.y()).arg(c & 0xFFFFFF, 6, 16, QLatin1Char('0'));
}

// Records the sizes a widget is resized to.
class ResizeLog : public QObject {
public:
    std::vector<QSize> sizes;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Resize)
            sizes.push_back(static_cast<QResizeEvent*>(e)->size());
        return false;
    }
};

}  // namespace

class LogoControlTest : public QObject {
    Q_OBJECT

    QTemporaryDir sandbox_;

    QWidget* create(QWidget* parent)
    {
        return component::createByClassName(ZelkorLogoIds::ClassName, parent);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(sandbox_.isValid());
        qputenv("XDG_DATA_HOME", sandbox_.filePath("data").toLocal8Bit());
    }

    void drawsTheLogoBlock()
    {
        QWidget window;
        // Distinct colours for the roles the control takes from its container.
        QPalette pal = window.palette();
        pal.setColor(QPalette::Window, QColor(0xC0, 0xC0, 0xC0));
        pal.setColor(QPalette::WindowText, QColor(0x40, 0x00, 0x40));
        window.setPalette(pal);
        window.resize(400, 200);
        QWidget* logo = create(&window);
        logo->move(20, 30);
        window.show();
        const QImage img = logo->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(img.size(), QSize(300, 100));

        // The control's own background in the last two columns and the last row.
        for (int y = 0; y < 100; ++y)
            for (int x : {298, 299})
                QVERIFY2(img.pixel(x, y) == 0xFFC0C0C0, qPrintable(at({x, y}, img.pixel(x, y))));
        for (int x = 0; x < 300; ++x)
            QVERIFY2(img.pixel(x, 99) == 0xFFC0C0C0, qPrintable(at({x, 99}, img.pixel(x, 99))));

        // The card's 1-pixel outline in the window-text colour.
        for (int y = 0; y < 99; ++y)
            for (int x : {0, 297})
                QVERIFY2(img.pixel(x, y) == 0xFF400040, qPrintable(at({x, y}, img.pixel(x, y))));
        for (int x = 0; x < 298; ++x)
            for (int y : {0, 98})
                QVERIFY2(img.pixel(x, y) == 0xFF400040, qPrintable(at({x, y}, img.pixel(x, y))));

        // The green frame, whole, exactly where the table puts it.
        for (int y = FrameOuter.top(); y <= FrameOuter.bottom(); ++y)
            for (int x = FrameOuter.left(); x <= FrameOuter.right(); ++x)
                if (inFrame({x, y}))
                    QVERIFY2(img.pixel(x, y) == Green, qPrintable(at({x, y}, img.pixel(x, y))));
        for (int y = 20; y < 80; ++y)
            for (int x : {5, 293, 11, 287})
                QVERIFY2(!greenish(img.pixel(x, y)), qPrintable(at({x, y}, img.pixel(x, y))));
        for (int x = 20; x < 280; ++x)
            for (int y : {6, 93})
                QVERIFY2(img.pixel(x, y) == White, qPrintable(at({x, y}, img.pixel(x, y))));

        // Everything else on the card is white, the letters aside; navy only
        // inside Label1's box, green only in the frame and Label2's box.
        QRect navyBounds, greenBounds;
        int navyExact = 0, greenExact = 0;
        for (int y = 1; y < Card.bottom(); ++y) {
            for (int x = 1; x < Card.right(); ++x) {
                const QPoint p(x, y);
                const QRgb c = img.pixel(p);
                if (inFrame(p))
                    continue;
                if (navyish(c)) {
                    QVERIFY2(Label1Box.contains(p), qPrintable(at(p, c)));
                    navyBounds |= QRect(p, QSize(1, 1));
                    navyExact += c == Navy;
                } else if (greenish(c)) {
                    QVERIFY2(Label2Box.contains(p), qPrintable(at(p, c)));
                    greenBounds |= QRect(p, QSize(1, 1));
                    greenExact += c == Green;
                } else if (!Label1Box.contains(p) && !Label2Box.contains(p)) {
                    QVERIFY2(c == White, qPrintable(at(p, c)));
                }
            }
        }
        // "ZELKOR" in 48 pt bold capitals: about 46 px high and most of the box wide.
        QVERIFY2(navyExact > 1500, qPrintable(QString::number(navyExact)));
        QVERIFY2(navyBounds.height() >= 40 && navyBounds.height() <= 52, qPrintable(QString::number(navyBounds.height())));
        QVERIFY2(navyBounds.width() >= 220, qPrintable(QString::number(navyBounds.width())));
        // The descriptor line in 9.75 pt bold, one line.
        QVERIFY2(greenExact > 20, qPrintable(QString::number(greenExact)));
        QVERIFY2(greenBounds.height() >= 8 && greenBounds.height() <= 18, qPrintable(QString::number(greenBounds.height())));
        QVERIFY2(greenBounds.width() >= 150, qPrintable(QString::number(greenBounds.width())));
        // Label1's box reaches above the frame's top line; the letters stay clear of it.
        QVERIFY(navyBounds.top() > FrameHole.top());
    }

    void descriptorLineIsOneTurkishLineOf35()
    {
        const logo::Element& label2 = logo::ZelkorLogoElements[3];
        QCOMPARE(label2.name, "Label2");
        const QString caption = QString::fromUtf8(label2.caption);
        QCOMPARE(caption.size(), 35);
        QVERIFY(caption.startsWith(QLatin1Char(' ')));
        QVERIFY(!caption.contains(QLatin1Char('\n')));
        QVERIFY(caption.contains(QRegularExpression(QStringLiteral("[çğıöşüÇĞİÖŞÜ]"))));
    }

    void keepsItsSizeWhateverIsAsked()
    {
        QWidget window;
        window.resize(600, 300);
        QWidget* logo = create(&window);

        // Hidden, as the window places it before showing: 2000 by 800 twips.
        logo->setGeometry(10, 10, 2000 / 15, 800 / 15);
        QCOMPARE(logo->size(), QSize(300, 100));
        QVERIFY(logo->setProperty("Width", 2000.f));
        QVERIFY(logo->setProperty("Height", 800.f));
        QCOMPARE(logo->property("Width").toFloat(), 4500.f);
        QCOMPARE(logo->property("Height").toFloat(), 1500.f);

        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(logo->size(), QSize(300, 100));
        logo->resize(2000 / 15, 800 / 15);
        QCOMPARE(logo->size(), QSize(300, 100));
        logo->resize(10000, 10000);
        QCOMPARE(logo->size(), QSize(300, 100));

        // Moving changes the place only.
        logo->move(140, 75);
        QCOMPARE(logo->geometry(), QRect(140, 75, 300, 100));
        QCOMPARE(logo->property("Left").toFloat(), 2100.f);
        QCOMPARE(logo->property("Top").toFloat(), 1125.f);
        QVERIFY(logo->setProperty("Left", 1500.f));
        QCOMPARE(logo->geometry(), QRect(100, 75, 300, 100));

        // A layout cannot stretch it either.
        QWidget box;
        auto* layout = new QHBoxLayout(&box);
        QWidget* laidOut = create(nullptr);
        layout->addWidget(laidOut);
        box.resize(800, 400);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QCOMPARE(laidOut->size(), QSize(300, 100));
    }

    void resizeHandlerSetsWidthThenHeight()
    {
        // A container that lifts the size bounds still meets the resize handler.
        QWidget window;
        window.resize(600, 300);
        QWidget* logo = create(&window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        logo->setMinimumSize(0, 0);
        logo->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);

        ResizeLog log;
        logo->installEventFilter(&log);
        logo->resize(133, 53);
        QCOMPARE(logo->size(), QSize(300, 100));
        const std::vector<QSize> expected{{133, 53}, {300, 53}, {300, 100}};
        QCOMPARE(log.sizes, expected);

        // While hidden the resize arrives when it is shown.
        logo->hide();
        logo->setMinimumSize(0, 0);
        logo->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        logo->resize(50, 400);
        logo->show();
        QCOMPARE(logo->size(), QSize(300, 100));

        // Bounds of the container's own do not win either.
        logo->setFixedSize(2000 / 15, 800 / 15);
        QCOMPARE(logo->size(), QSize(300, 100));
        QVERIFY(log.sizes.size() < 20);
    }
};

QTEST_MAIN(LogoControlTest)
#include "tst_logo_control.moc"
