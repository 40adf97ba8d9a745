// Port numbers bound to adapters for the run, through a fake system list
// with identities.

#include "link/Errors.h"
#include "link/MSComm.h"
#include "link/PortBindings.h"
#include "link/QtSerialLine.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using PortDirectory::Device;

namespace {

const PortDirectory::Identity kAdapterA{0x0403, 0x6001, QStringLiteral("A1B2C3"), QStringLiteral("FT232R USB UART")};
const PortDirectory::Identity kAdapterB{0x0403, 0x6001, QStringLiteral("B4C5D6"), QStringLiteral("FT232R USB UART")};
const PortDirectory::Identity kAdapterC{0x1a86, 0x7523, QString(), QStringLiteral("USB2.0-Serial")};

// C's model, no serial number, in a known socket.
PortDirectory::Identity adapterCIn(const char* place)
{
    return {0x1a86, 0x7523, QString(), QStringLiteral("USB2.0-Serial"), QString::fromLatin1(place)};
}

Device at(const char* path, const PortDirectory::Identity& identity)
{
    return {QString::fromLatin1(path), identity};
}

// The system's list as the test sets it.
struct FakeSystem {
    std::shared_ptr<QList<Device>> now = std::make_shared<QList<Device>>();
    std::shared_ptr<PortBindings> ports = std::make_shared<PortBindings>([list = now] { return *list; });

    // The list at start-up, bound the way the first opening binds it.
    explicit FakeSystem(const QList<Device>& atStart)
    {
        *now = atStart;
        ports->update();
    }
    void becomes(const QList<Device>& devices)
    {
        *now = devices;
        ports->update();
    }
};

}  // namespace

class TestPortBindings : public QObject {
    Q_OBJECT

private slots:
    void init() { qunsetenv(PortDirectory::kEnvironmentVariable); }

    void adapterRemovedBeforePortTwoLeavesPortTwoOnItsAdapter()
    {
        FakeSystem system({at("/dev/ttyUSB0", kAdapterA), at("/dev/ttyUSB1", kAdapterB)});
        system.becomes({at("/dev/ttyUSB1", kAdapterB)});
        QCOMPARE(system.ports->devicePath(2), QStringLiteral("/dev/ttyUSB1"));
        QCOMPARE(system.ports->present(), QList<int>{2});
    }

    void replugedAdapterUnderANewNameIsFoundAgain()
    {
        // B comes back under the name that was A's; A is not there.
        FakeSystem system({at("/dev/ttyUSB0", kAdapterA), at("/dev/ttyUSB1", kAdapterB)});
        system.becomes({at("/dev/ttyUSB0", kAdapterB)});
        QCOMPARE(system.ports->devicePath(2), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(system.ports->present(), QList<int>{2});
        QVERIFY(system.ports->describe(2).contains(QStringLiteral("B4C5D6")));
    }

    void vanishedAdapterIs8002NamingIt()
    {
        FakeSystem system({at("/dev/ttyUSB0", kAdapterA), at("/dev/ttyUSB1", kAdapterB)});
        MSCommLib::MSComm comm(qtSerialLineOpener(system.ports));
        comm.setCommPort(2);
        *system.now = {at("/dev/ttyUSB0", kAdapterA)};
        try {
            comm.setPortOpen(true);
            QFAIL("opened a port whose adapter is gone");
        } catch (const PelmoraError& e) {
            QCOMPARE(e.number(), ErrorNumber::InvalidPortNumber);
            QCOMPARE(e.text(), QStringLiteral("Invalid port number: USB serial adapter FT232R USB UART, serial "
                                              "B4C5D6, is not plugged in (port 2, last seen as /dev/ttyUSB1)"));
        }
        QVERIFY(!comm.PortOpen());
    }

    void newAdapterTakesTheLowestNumberNeverGivenOut()
    {
        // A's number 1 stays A's although A is gone.
        FakeSystem system({at("/dev/ttyUSB0", kAdapterA), at("/dev/ttyUSB1", kAdapterB)});
        system.becomes({at("/dev/ttyUSB0", kAdapterC), at("/dev/ttyUSB1", kAdapterB)});
        QCOMPARE(system.ports->present(), (QList<int>{2, 3}));
        QCOMPARE(system.ports->devicePath(3), QStringLiteral("/dev/ttyUSB0"));
    }

    void lookAlikesReplugedInTheOtherOrderKeepTheirNumbersBySocket()
    {
        FakeSystem system({at("/dev/ttyUSB0", adapterCIn("1-1:1.0")), at("/dev/ttyUSB1", adapterCIn("1-2:1.0"))});
        system.becomes({at("/dev/ttyUSB0", adapterCIn("1-2:1.0")), at("/dev/ttyUSB1", adapterCIn("1-1:1.0"))});
        QCOMPARE(system.ports->devicePath(1), QStringLiteral("/dev/ttyUSB1"));
        QCOMPARE(system.ports->devicePath(2), QStringLiteral("/dev/ttyUSB0"));
    }

    void lookAlikesThatCannotBeToldApartAreReportedNotGuessed()
    {
        // No serial number, no socket known: once both were pulled, either may be either.
        FakeSystem system({at("/dev/ttyUSB0", kAdapterC), at("/dev/ttyUSB1", kAdapterC)});
        QVERIFY(system.ports->describe(1).contains(QStringLiteral("cannot be told apart from port 2")));
        system.becomes({});
        system.becomes({at("/dev/ttyUSB0", kAdapterC), at("/dev/ttyUSB1", kAdapterC)});
        QCOMPARE(system.ports->present(), (QList<int>{3, 4}));
        try {
            system.ports->devicePath(1);
            QFAIL("port 1 was bound again on a guess");
        } catch (const PelmoraError& e) {
            QVERIFY2(e.number() == ErrorNumber::InvalidPortNumber &&
                         e.text().contains(QStringLiteral("port 2 (/dev/ttyUSB1, gone) and port 3 (/dev/ttyUSB0)")) &&
                         e.text().contains(QStringLiteral("PELMORA_PORTS to their /dev/serial/by-path links")),
                     qPrintable(e.text()));
        }
    }

    void newLookAlikeInAnotherSocketDoesNotTakeAPulledOnesNumber()
    {
        FakeSystem system({at("/dev/ttyUSB0", adapterCIn("1-1:1.0"))});
        system.becomes({at("/dev/ttyUSB0", adapterCIn("1-2:1.0"))});
        QCOMPARE(system.ports->present(), QList<int>{2});
        QCOMPARE(system.ports->devicePath(2), QStringLiteral("/dev/ttyUSB0"));
    }

    void placeIsTheSocketNotTheTtyName()
    {
        // A converter's port device is named after the tty and moves with it; its interface does not.
        QTemporaryDir sys;
        const QString port = sys.filePath(QStringLiteral("devices/usb1/1-1.2/1-1.2:1.0/ttyUSB3"));
        QVERIFY(QDir().mkpath(port) && QDir().mkpath(sys.filePath("class/tty/ttyUSB3")) &&
                QFile::link(port, sys.filePath("class/tty/ttyUSB3/device")));
        QCOMPARE(PortDirectory::physicalPlace("ttyUSB3", sys.filePath("class/tty")), QStringLiteral("1-1.2:1.0"));
    }
};

QTEST_GUILESS_MAIN(TestPortBindings)
#include "tst_portbindings.moc"
