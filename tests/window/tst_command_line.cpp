// The program's command line, answered without a window: it must work where
// there is no display at all, as when a man page is made from --help.

#include <QProcess>
#include <QTest>

class CommandLineTest : public QObject {
    Q_OBJECT

private slots:
    void answeredWithoutDisplay_data();
    void answeredWithoutDisplay();
};

void CommandLineTest::answeredWithoutDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");   // what stdout starts with
    QTest::newRow("help") << QStringList{"--help"} << 0 << "Usage: pelmora [--help | --version] [Qt options]\n";
    QTest::newRow("version") << QStringList{"--version"} << 0 << "pelmora 1.00.0011\n";
    QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << QString();
    QTest::newRow("Qt's own options") << QStringList{"-style", "Fusion", "--stylesheet=a.qss", "-reverse", "--version"}
                                      << 0 << "pelmora 1.00.0011\n";
    QTest::newRow("Qt's option, then another") << QStringList{"-style", "Fusion", "-bogus"} << 2 << QString();
    QTest::newRow("argument") << QStringList{"label.txt"} << 2 << QString();
}

void CommandLineTest::answeredWithoutDisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    // A window would need this display and abort without it.
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(qEnvironmentVariable("PELMORA_BIN_DIR") + QStringLiteral("/pelmora"), arguments);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), status);
    const QString stdOut = QString::fromLocal8Bit(p.readAllStandardOutput());
    const QString stdErr = QString::fromLocal8Bit(p.readAllStandardError());
    if (status == 0) {
        QVERIFY2(stdOut.startsWith(out), qPrintable(stdOut));
        QCOMPARE(stdErr, QString());
    } else {
        QCOMPARE(stdOut, QString());
        QVERIFY2(stdErr.startsWith(QStringLiteral("pelmora: ")) && stdErr.endsWith(QStringLiteral("Try --help.\n")),
                 qPrintable(stdErr));
    }
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "tst_command_line.moc"
