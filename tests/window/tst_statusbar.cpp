// The four-panel status bar on its own: numbering, clicks, tooltips, and
// that a new text shows at the next pass of the event loop, which the waits run.

#include "window/StatusBar.h"

#include <QApplication>
#include <QHelpEvent>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>
#include <cmath>

namespace {
class CountingBar : public StatusBar {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* e) override
    {
        ++paints;
        StatusBar::paintEvent(e);
    }
};

void describe(StatusBar& bar)
{
    bar.setPanelWidths({"1830", "1440", "3300", "300"});
    bar.setPanelMinWidths({"1440", "1440", "1440", "300"});
    bar.setPanelTexts({"Setting  :  9600,E,7,1", "Port : 1", "No Connection  :", ""});
    bar.setPanelToolTipTexts({"", "", "", "No Connection"});
}
}  // namespace

class TestStatusBar : public QObject {
    Q_OBJECT

private slots:
    void panelsAreNumberedFromOne()
    {
        StatusBar bar;
        describe(bar);
        QCOMPARE(bar.Count(), 4);
        QVERIFY(bar.Panels(0) == nullptr);
        QVERIFY(bar.Panels(5) == nullptr);
        for (int i = 1; i <= 4; ++i)
            QCOMPARE(bar.Panels(i)->Index(), i);
        QCOMPARE(bar.Panels(3)->Text(), QStringLiteral("No Connection  :"));
        QCOMPARE(bar.Panels(4)->ToolTipText(), QStringLiteral("No Connection"));
    }

    void panelsSitSideBySideAtTheirWidths()
    {
        StatusBar bar;
        describe(bar);
        bar.Panels(1)->setText({});  // short texts, so the widths of the description hold
        bar.Panels(2)->setText({});
        bar.Panels(3)->setText({});
        bar.resize(481, 20);
        QCOMPARE(bar.panelRect(1).width(), 122);
        QCOMPARE(bar.panelRect(2).width(), 96);
        QCOMPARE(bar.panelRect(3).width(), 220);
        QCOMPARE(bar.panelRect(4).width(), 20);
        for (int i = 2; i <= 4; ++i)
            QVERIFY(bar.panelRect(i).left() > bar.panelRect(i - 1).right());
        // A panel below its minimum width is drawn at the minimum.
        bar.Panels(2)->setWidth(300);
        QCOMPARE(bar.panelRect(2).width(), 96);
    }

    void longTextWidensItsPanel()
    {
        StatusBar bar;
        describe(bar);
        const int before = bar.panelRect(3).width();
        bar.Panels(3)->setText(QString(80, QLatin1Char('x')));
        QVERIFY(bar.panelRect(3).width() > before);
        QVERIFY(bar.panelRect(3).width() >= bar.fontMetrics().horizontalAdvance(QString(80, QLatin1Char('x'))));
    }

    void clickHandsOverThePanel()
    {
        StatusBar bar;
        describe(bar);
        bar.resize(481, 20);
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        QSignalSpy spy(&bar, &StatusBar::PanelClick);
        for (int i = 1; i <= 4; ++i)
            QTest::mouseClick(&bar, Qt::LeftButton, {}, bar.panelRect(i).center());
        QCOMPARE(spy.count(), 4);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(spy.at(i).at(0).value<StatusPanel*>(), bar.Panels(i + 1));
        // Beyond the last panel there is nothing to click.
        QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(bar.width() - 2, 10));
        QCOMPARE(spy.count(), 4);
    }

    void tooltipFollowsThePanelUnderThePointer()
    {
        StatusBar bar;
        describe(bar);
        bar.resize(481, 20);
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        const QPoint onFour = bar.panelRect(4).center();
        QHelpEvent four(QEvent::ToolTip, onFour, bar.mapToGlobal(onFour));
        QApplication::sendEvent(&bar, &four);
        QCOMPARE(QToolTip::text(), QStringLiteral("No Connection"));

        bar.Panels(4)->setToolTipText(QStringLiteral("Connection OK"));
        QApplication::sendEvent(&bar, &four);
        QCOMPARE(QToolTip::text(), QStringLiteral("Connection OK"));

        const QPoint onOne = bar.panelRect(1).center();
        QHelpEvent one(QEvent::ToolTip, onOne, bar.mapToGlobal(onOne));
        QApplication::sendEvent(&bar, &one);
        QTRY_VERIFY(!QToolTip::isVisible());
    }

    void newTextPaintsInTheNextPass()
    {
        CountingBar bar;
        describe(bar);
        bar.resize(481, 20);
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        QCoreApplication::processEvents();
        const int before = bar.paints;
        bar.Panels(3)->setText(QStringLiteral("Connecting... 3"));
        // One pass, as a wait runs between its slices.
        QCoreApplication::processEvents();
        QVERIFY(bar.paints > before);
    }

    void docksAlongTheBottom()
    {
        QWidget window;
        window.resize(481, 392);
        StatusBar bar(&window);
        bar.resize(481, 20);
        window.resize(700, 500);
        bar.dock();
        QCOMPARE(bar.geometry(), QRect(0, 480, 700, 20));
    }

    // Run at 100 %, 125 % and 200 % (QT_SCALE_FACTOR): a picture has as many
    // pixels as its panel on the screen, and at 2x it is the 2x drawing.
    void picturesHaveTheScreensPixels()
    {
        Q_INIT_RESOURCE(pictures);
        StatusBar bar;
        const QStringList pictures{":/pictures/computers16.xpm", ":/pictures/connector16.xpm", "",
                                   ":/pictures/device16.xpm"};
        bar.setPanelPictures(pictures);
        const qreal scale = bar.devicePixelRatioF();
        for (int i : {1, 2, 4}) {
            const QPixmap& picture = bar.Panels(i)->Picture();
            QCOMPARE(picture.width(), static_cast<int>(std::lround(16 * scale)));
            QCOMPARE(picture.deviceIndependentSize(), QSizeF(16, 16));
            QString large = pictures[i - 1];
            const QImage expected(scale == 2 ? large.replace(".xpm", "@2x.xpm") : large);
            if (scale == 1 || scale == 2)
                QCOMPARE(picture.toImage().convertToFormat(QImage::Format_ARGB32),
                         expected.convertToFormat(QImage::Format_ARGB32));
        }
    }
};

QTEST_MAIN(TestStatusBar)
#include "tst_statusbar.moc"
