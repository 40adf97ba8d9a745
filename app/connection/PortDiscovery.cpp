// Port discovery at start-up, the default settings, and (re)opening the port.

#include "Form1.h"
#include "connection/PortDiscovery.h"
#include "window/StatusBar.h"

#include <QComboBox>
#include <QLocale>
#include <cmath>
#include <limits>

qint16 toInteger16(const QString& text)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        throw PelmoraError(ErrorNumber::TypeMismatch, QStringLiteral("\"%1\" is not a number").arg(text));
    const double rounded = std::nearbyint(value);
    if (rounded < std::numeric_limits<qint16>::min() || rounded > std::numeric_limits<qint16>::max())
        throw PelmoraError(ErrorNumber::Overflow, text.trimmed());
    return static_cast<qint16>(rounded);
}

bool scanGoesOn(int number)
{
    return number == ErrorNumber::PortNotOpen || number == ErrorNumber::PortAlreadyOpen ||
           number == ErrorNumber::InvalidPortNumber || number == ErrorNumber::DeviceNotOpen;
}

namespace {
constexpr int kFirstPort = 1;
constexpr int kLastPort = 10;
constexpr int kEnd = 0;
}  // namespace

void Form1::PortKontrol()
{
    // A fixed sequence of numbered steps under one trap: after a failure the
    // scan carries on with the step that follows the failing one, even where
    // that step belongs to a branch whose test has just failed.
    short n = kFirstPort;
    const auto runStep = [&](int step) -> int {
        switch (step) {
        case 1: return MSComm1.PortOpen() ? 2 : 3;
        case 2: MSComm1.setPortOpen(false); return 3;
        case 3: n = kFirstPort; return 4;
        case 4: MSComm1.setCommPort(n); return 5;
        case 5: MSComm1.setPortOpen(true); return 6;
        case 6: return MSComm1.PortOpen() ? 7 : 9;
        case 7:
            Combo1->addItem(QString::number(n));
            // Which device the number stands for, for the operator's pointer.
            Combo1->setItemData(Combo1->count() - 1, seams_.ports->describe(n), Qt::ToolTipRole);
            return 8;
        case 8: MSComm1.setPortOpen(false); return 9;
        case 9: ++n; return n <= kLastPort ? 4 : 10;
        case 10:
            if (Combo1->count() > 0)
                Combo1->setCurrentIndex(0);
            return kEnd;
        }
        return kEnd;
    };

    scanRefusals_.clear();
    int step = 1;
    while (step != kEnd) {
        try {
            step = runStep(step);
        } catch (const PelmoraError& error) {
            if (!scanGoesOn(error.number()))
                return;  // quietly, with what was found kept
            if (step == 5)
                scanRefusals_ << error.text();
            step = step == 10 ? kEnd : step + 1;
        } catch (...) {
            return;
        }
    }
}

void Form1::Default()
{
    PortNumber = Combo1->itemText(0);
    PortSettings = QStringLiteral("9600,n,8,1");
    Combo2[0]->setCurrentText(QStringLiteral("9600"));
    Combo2[1]->setCurrentText(QStringLiteral("E"));
    Combo2[2]->setCurrentText(QStringLiteral("7"));
    Combo2[3]->setCurrentText(QStringLiteral("1"));
    if (Combo1->count() > 0)
        Combo1->setCurrentIndex(0);
    StatusBar1->Panels(2)->setText(QStringLiteral("Port : ") + PortNumber);
}

void Form1::PortAç()
{
    if (MSComm1.PortOpen())
        MSComm1.setPortOpen(false);
    if (PortNumber.trimmed().isEmpty()) {
        // No port was listed at start-up; the cable may have come since. Say
        // what there is now, rather than failing on the conversion of an
        // empty port number.
        updatePortList();
        // A device that is there but held or denied is that, not a missing one.
        const QString prefix = errorText(ErrorNumber::PortAlreadyOpen) + QStringLiteral(": ");
        QStringList refused;
        for (const QString& refusal : scanRefusals_)
            if (refusal.startsWith(prefix) && !refused.contains(refusal.mid(prefix.size())))
                refused << refusal.mid(prefix.size());
        if (Combo1->count() == 0 && !refused.isEmpty())
            throw PelmoraError(ErrorNumber::PortAlreadyOpen, refused.join(QStringLiteral("; ")));
        throw PelmoraError(ErrorNumber::InvalidPortNumber, noPortChosenText());
    }
    MSComm1.setCommPort(toInteger16(PortNumber));
    MSComm1.setSettings(PortSettings);
    try {
        MSComm1.setPortOpen(true);
    } catch (const PelmoraError& error) {
        // The adapter is gone: the list shows what there is before the report.
        if (error.number() == ErrorNumber::InvalidPortNumber)
            updatePortList();
        throw;
    }
}

QString Form1::noPortChosenText() const
{
    if (Combo1->count() > 0) {
        QStringList offered;
        for (int i = 0; i < Combo1->count(); ++i)
            offered << Combo1->itemText(i);
        return QStringLiteral("No port is chosen yet; the port list now offers %1: choose one under Connection "
                              "Settings, press OK and connect again.")
            .arg(offered.join(QStringLiteral(", ")));
    }
    QString why;
    for (const QString& refusal : scanRefusals_)
        if (!refusal.startsWith(errorText(ErrorNumber::InvalidPortNumber)) && !why.contains(refusal))
            why += (why.isEmpty() ? QString() : QStringLiteral("; ")) + refusal;
    if (why.isEmpty())
        why = QStringLiteral("no serial device was found");
    return QStringLiteral("No serial port can be opened; check that the device is plugged in and that you may "
                          "use it (group dialout). (%1)")
        .arg(why);
}
