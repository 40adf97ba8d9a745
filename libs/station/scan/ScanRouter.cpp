#include "ScanRouter.h"

#include <QStringList>

void ScanRouter::refuseOnAll(const QString& text, double at, const QString& why)
{
    for (const Served& s : served_)
        s.inbox->push({text, at, why});
}

void ScanRouter::deliver(const QString& text, double at, const QString& problem)
{
    if (!problem.isEmpty()) {
        // Whatever fixture was chosen, this was not its unit.
        chosen_ = -1;
        refuseOnAll(text, at, problem);
        return;
    }
    const QLatin1String prefix(kFixtureBarcodePrefix);
    if (text.startsWith(prefix)) {
        const QString name = text.mid(prefix.size());
        for (int i = 0; i < served_.size(); ++i)
            if (served_[i].fixture == name) {
                chosen_ = i;
                return;
            }
        chosen_ = -1;
        refuseOnAll(text, at, QStringLiteral("this scanner serves no fixture %1").arg(name));
        return;
    }
    if (served_.size() == 1) {
        served_.first().inbox->push({text, at, {}});
        return;
    }
    if (chosen_ < 0) {
        QStringList barcodes;
        for (const Served& s : served_)
            barcodes << QLatin1String(kFixtureBarcodePrefix) + s.fixture;
        refuseOnAll(text, at, QStringLiteral("%1 was scanned without a fixture's barcode first (%2, then the unit)")
                                  .arg(text, barcodes.join(QStringLiteral(" or "))));
        return;
    }
    served_[chosen_].inbox->push({text, at, {}});
    chosen_ = -1;
}

void ScanRouter::setStatus(ScannerState state, const QString& reason)
{
    // A fixture chosen before the scanner went is forgotten with it.
    if (state != ScannerState::Ok)
        chosen_ = -1;
    for (const Served& s : served_)
        s.inbox->setStatus(state, reason);
}
