// The port list follows the cable: when the settings frame is shown, and when
// a connect attempt finds no port or a gone adapter, Combo1 is brought up to
// date with the devices there are now. The start-up scan is PortKontrol's.

#include "Form1.h"
#include "connection/PortDiscovery.h"

#include <QComboBox>

namespace {
int numberAt(const QComboBox* list, int index)
{
    return list->itemText(index).toInt();
}

bool isListed(const QComboBox* list, int n)
{
    return list->findText(QString::number(n)) >= 0;
}

// Entries stay in ascending order, as the scan appends them.
void insertInOrder(QComboBox* list, int n)
{
    int at = 0;
    while (at < list->count() && numberAt(list, at) < n)
        ++at;
    list->insertItem(at, QString::number(n));
}
}  // namespace

void Form1::updatePortList()
{
    PortBindings& ports = *seams_.ports;
    ports.update();
    const QList<int> present = ports.present();
    // The port in use stays listed and is not probed.
    const int inUse = MSComm1.openedPort();
    const QString selected = Combo1->currentText();

    for (int i = Combo1->count() - 1; i >= 0; --i) {
        const int n = numberAt(Combo1, i);
        if (n != inUse && !present.contains(n))
            Combo1->removeItem(i);
    }

    // Devices not listed are probed as the scan probes, with its trap rule:
    // new ones, and ones refused before (freed since, or access granted).
    // Listed ones are not opened again: opening toggles the modem lines, and
    // some devices reset on that. A probe of its own leaves MSComm1 as it is.
    MSCommLib::MSComm probe(seams_.openLine);
    probe.setSettings(MSComm1.Settings());
    QStringList refusals;
    for (const int n : present) {
        if (n == inUse || isListed(Combo1, n))
            continue;
        try {
            probe.setCommPort(static_cast<short>(n));
            probe.setPortOpen(true);
            if (probe.PortOpen())
                insertInOrder(Combo1, n);
            probe.setPortOpen(false);
        } catch (const PelmoraError& error) {
            if (!scanGoesOn(error.number()))
                break;
            refusals << error.text();
        } catch (...) {
            break;
        }
    }
    scanRefusals_ = refusals;

    // A re-plugged adapter has a new path.
    for (int i = 0; i < Combo1->count(); ++i)
        Combo1->setItemData(i, ports.describe(numberAt(Combo1, i)), Qt::ToolTipRole);
    const int keep = Combo1->findText(selected);
    Combo1->setCurrentIndex(keep >= 0 ? keep : (Combo1->count() > 0 ? 0 : -1));
}
