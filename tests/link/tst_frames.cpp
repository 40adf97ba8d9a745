// The frame bytes on the line for every value the protocol's tables work out.

#include "link/CommandFrame.h"

#include <QTest>

class FramesTest : public QObject {
    Q_OBJECT

private slots:
    void workedValues_data();
    void workedValues();
    void numberAndItsTextGiveTheSameFrame();
    void dataByteCheckRanges();
};

void FramesTest::workedValues_data()
{
    QTest::addColumn<QString>("payload");
    QTest::addColumn<int>("number");  // -1: the payload is text
    QTest::addColumn<QByteArray>("frame");

    auto text = [](const char* name, const char* payload, const char* hex) {
        QTest::newRow(name) << QString::fromLatin1(payload) << -1 << QByteArray::fromHex(hex);
    };
    auto number = [](const char* name, int value, const char* hex) {
        QTest::newRow(name) << QString() << value << QByteArray::fromHex(hex);
    };

    text("poll", "S", "53530D");
    text("release", "#End#", "23456E64234F0D");
    text("end of file", "#File#", "2346696C6523260D");
    text("slot 1", "#Externl1.ejf#", "2345787465726E6C312E656A66232A0D");
    text("slot 2", "#Externl2.ejf#", "2345787465726E6C322E656A6623290D");
    text("slot 3", "#Externl3.ejf#", "2345787465726E6C332E656A6623280D");
    text("slot 4", "#Externl4.ejf#", "2345787465726E6C342E656A66232F0D");
    text("slot 5", "#Externl5.ejf#", "2345787465726E6C352E656A66232E0D");
    text("length 1234", "%1234#", "253132333423120D");
    text("length 0", "%0#", "253023360D");
    text("empty payload", "", "100D");
    number("byte 0", 0, "30300D");
    number("byte 9", 9, "39390D");
    number("byte 10", 10, "3130110D");
    number("byte 13", 13, "3133120D");
    number("byte 32", 32, "3332110D");
    number("byte 65", 65, "3635130D");
    number("byte 100", 100, "313030310D");
    number("byte 255", 255, "323535320D");
    number("abc: a", 97, "39371E0D");
    number("abc: b", 98, "3938110D");
    number("abc: c", 99, "3939100D");
}

void FramesTest::workedValues()
{
    QFETCH(QString, payload);
    QFETCH(int, number);
    QFETCH(QByteArray, frame);
    const QByteArray got = number < 0 ? commandFrame(payload) : commandFrame(number);
    QCOMPARE(got.toHex(' '), frame.toHex(' '));
}

void FramesTest::numberAndItsTextGiveTheSameFrame()
{
    for (int v : {0, 7, 42, 255, 1234, 32768, 2147483647})
        QCOMPARE(commandFrame(v), commandFrame(QString::number(v)));
    // The check is over the digits, not the value: 65 is not 'A'.
    QCOMPARE(checkCharacter("65"), static_cast<unsigned char>(0x13));
    QVERIFY(checkCharacter("65") != checkCharacter(QByteArray(1, char(65))));
}

void FramesTest::dataByteCheckRanges()
{
    for (int v = 0; v <= 255; ++v) {
        const QByteArray frame = commandFrame(v);
        const QByteArray digits = QByteArray::number(v);
        QCOMPARE(frame.size(), digits.size() + 2);
        QVERIFY(frame.startsWith(digits));
        QCOMPARE(frame.back(), '\r');
        const auto check = static_cast<unsigned char>(frame.at(frame.size() - 2));
        if (digits.size() == 2)
            QVERIFY2(check >= 0x10 && check <= 0x1F, qPrintable(QString::number(v)));
        else
            QVERIFY2(check >= 0x30 && check <= 0x3F, qPrintable(QString::number(v)));
        // No check byte can be taken for the frame's end.
        QVERIFY(check != 0x0D);
    }
}

QTEST_APPLESS_MAIN(FramesTest)
#include "tst_frames.moc"
