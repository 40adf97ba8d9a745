#include "Scanners.h"

#include <QMap>

Scanners::Scanners(const QList<FixtureOption>& fixtures, Clock& clock, ScannerReader::Opener open)
{
    QMap<QString, QList<ScanRouter::Served>> byScanner;
    QStringList order;
    QMap<QString, QString> settings;
    for (const FixtureOption& f : fixtures) {
        if (f.scanner.isEmpty()) {
            byFixture_.push_back(nullptr);
            continue;
        }
        ScanInbox* inbox = &inboxes_.emplace_back();
        byFixture_.push_back(inbox);
        if (!byScanner.contains(f.scanner))
            order << f.scanner;
        if (!f.scannerSettings.isEmpty())
            settings[f.scanner] = f.scannerSettings;
        byScanner[f.scanner] << ScanRouter::Served{f.name, inbox};
    }
    for (const QString& path : order) {
        ScannerReader::Opener opener = open;
        if (!opener) {
            // Checked when the options were read.
            std::optional<LineSettings> given;
            if (settings.contains(path))
                given = LineSettings::parse(settings.value(path));
            opener = [given](const QString& p) { return openScannerPort(p, given); };
        }
        readers_.push_back(std::make_unique<ScannerReader>(path, ScanRouter(byScanner.value(path)), clock, opener));
    }
}

ScanInbox* Scanners::inbox(int fixture)
{
    return fixture >= 0 && size_t(fixture) < byFixture_.size() ? byFixture_[size_t(fixture)] : nullptr;
}

int Scanners::start()
{
    int opened = 0;
    for (const auto& reader : readers_)
        opened += reader->start() ? 1 : 0;
    return opened;
}

void Scanners::stop()
{
    for (const auto& reader : readers_)
        reader->stop();
}
