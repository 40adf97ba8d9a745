#pragma once
// The names a request may give as its Host: the address it reached (the
// listen address, or for 0.0.0.0 whichever of the machine's addresses the
// client used), localhost, or a name the station was given (--page-name);
// with the page's port or without one. A page elsewhere whose own name was
// made to resolve to this station (DNS rebinding) names itself, and is
// refused.

#include <QHostAddress>
#include <QStringList>

class AllowedHosts {
public:
    AllowedHosts(const QStringList& names, quint16 port);
    bool allows(const QByteArray& host, const QHostAddress& reached) const;

private:
    QStringList names_;  // lower case, without a final dot
    quint16 port_;
};

// A DNS name as a browser sends it: labels of letters, digits and hyphens,
// not all digits (an address is no name).
bool isHostName(const QString& name);
