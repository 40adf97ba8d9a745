// The program's version record as the application and the package carry it.

#include "VersionRecord.h"

#include <QCoreApplication>
#include <QTest>

class VersionTest : public QObject {
    Q_OBJECT

private slots:
    void recordIsTheApplicationsOwn()
    {
        VersionRecord::apply();
        QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("1.00.0011"));
        QCOMPARE(QCoreApplication::organizationName(), QStringLiteral("Zelkor"));
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Pelmora"));
        QCOMPARE(VersionRecord::FileVersion, VersionRecord::ProductVersion);
    }
};

QTEST_GUILESS_MAIN(VersionTest)
#include "tst_version.moc"
