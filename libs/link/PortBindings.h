#pragma once
// Port numbers 1 to 10 bound to devices for the rest of the run. A device
// seen for the first time takes the lowest number not yet given out (several
// at once in natural order of their paths, so at start-up port n is the n-th
// device the system reports). From then on the number stands for that
// adapter: at its path while the identity there matches, under its new path
// when it was re-plugged and came back under another name, missing otherwise.
// Without a serial number an adapter is known by model and place, so
// look-alikes keep their numbers by socket. An adapter that cannot be told
// apart from another one (nor from a new one of its model) keeps its number
// only while it stays plugged in: once it was seen gone, whatever comes back
// could be either, and the number is not bound again on a guess. A number is
// never given to another adapter, so plugging or pulling one cable never
// moves another cable's number. With PELMORA_PORTS set, entry k is port k, a
// fixed path.

#include "PortDirectory.h"

#include <QList>
#include <QString>
#include <array>
#include <optional>

class PortBindings {
public:
    static constexpr int kLowest = 1;
    static constexpr int kHighest = 10;

    explicit PortBindings(PortDirectory::Lister systemPorts = PortDirectory::systemPorts);

    // Reads the system's list (or PELMORA_PORTS) again: finds the bound
    // devices, binds the ones seen for the first time.
    void update();

    // The rest answer as of the last update.
    // Numbers whose device is there, ascending.
    QList<int> present() const;
    // Where port n's device is. 8002 when it is not there, naming the
    // missing adapter, or when no device was ever behind n.
    QString devicePath(int n) const;
    // The device path and, where known, its description and serial number;
    // empty for a number never given out.
    QString describe(int n) const;

private:
    struct Binding {
        QString path;
        PortDirectory::Identity identity;
        bool present = false;
        // Seen gone while it could not be told apart: never bound again.
        bool unbindable = false;
    };
    using Table = std::array<std::optional<Binding>, kHighest>;

    void updateBound(const QList<PortDirectory::Device>& now);
    void updatePinned(const QStringList& paths, const QList<PortDirectory::Device>& now);
    const Table& table() const { return pinned_ ? *pinned_ : bound_; }
    const std::optional<Binding>& at(int n) const;
    // The other numbers whose adapters look the same as n's.
    QList<int> lookAlikes(int n) const;
    // n's adapter cannot be told apart from another one, bound or to come.
    bool isAmbiguous(int n) const;
    [[noreturn]] void throwUnbindable(int n) const;

    PortDirectory::Lister list_;
    Table bound_;
    std::optional<Table> pinned_;
};
