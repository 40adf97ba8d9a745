// The registration tool, run as a separate process against a sandboxed
// registry.

#include "Create.h"
#include "ZelkorLogoIds.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class RegsvrTest : public QObject {
    Q_OBJECT

    QTemporaryDir sandbox_;
    QString library_;

    struct Run {
        int exitCode;
        QString out;
        QString err;
    };

    Run regsvr(const QStringList& args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", sandbox_.filePath("data"));
        p.setProcessEnvironment(env);
        p.start(ZELKOR_REGSVR, args);
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
            return {-1, {}, {}};
        return {p.exitCode(), QString::fromLocal8Bit(p.readAllStandardOutput()),
                QString::fromLocal8Bit(p.readAllStandardError())};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(sandbox_.isValid());
        qputenv("XDG_DATA_HOME", sandbox_.filePath("data").toLocal8Bit());
        // A copy in a folder of its own, so the registry is seen to name the file given.
        QVERIFY(QDir().mkpath(sandbox_.filePath("lib")));
        library_ = sandbox_.filePath("lib/ZelkorLogo1.ocx");
        QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + "/ZelkorLogo1.ocx", library_));
    }

    void registersAndUnregisters()
    {
        QVERIFY(!component::registration(ZelkorLogoIds::ClassName));

        // A relative name is registered as the absolute path.
        QDir::setCurrent(sandbox_.filePath("lib"));
        Run r = regsvr({"ZelkorLogo1.ocx"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.startsWith("Registered"), qPrintable(r.out + r.err));
        auto reg = component::registration(ZelkorLogoIds::ClassName);
        QVERIFY(reg);
        QCOMPARE(reg->libraryPath, QFileInfo(library_).canonicalFilePath());
        QCOMPARE(reg->classId, ZelkorLogoIds::CLSID_ZelkorLogo);

        r = regsvr({"-u", library_});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.startsWith("Unregistered"), qPrintable(r.out + r.err));
        QVERIFY(!component::registration(ZelkorLogoIds::ClassName));
    }

    void refusesWhatItCannotRegister()
    {
        Run r = regsvr({});
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.err.contains("usage"));
        r = regsvr({"-x", library_});
        QCOMPARE(r.exitCode, 2);

        r = regsvr({sandbox_.filePath("missing.ocx")});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains("no such file"));

        QFile text(sandbox_.filePath("text.ocx"));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not a library\n");
        text.close();
        r = regsvr({text.fileName()});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains("cannot load"));

        // A library without the entry points.
        r = regsvr({QCoreApplication::applicationDirPath() + "/libzelkor_component.so"});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains("no entry point DllRegisterServer"));
        QVERIFY(!component::registration(ZelkorLogoIds::ClassName));
    }
};

QTEST_GUILESS_MAIN(RegsvrTest)
#include "tst_component_regsvr.moc"
