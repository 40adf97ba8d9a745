#pragma once
// Where the station's page listens: "ADDR:PORT" ("127.0.0.1:8470",
// "[::1]:8470", "0.0.0.0:8470"), or "off" for no page.

#include <QHostAddress>
#include <QString>
#include <optional>

struct ListenAddress {
    QHostAddress address;
    quint16 port = 0;  // 0: any free port, said at start
    QString shown() const;
};

inline constexpr const char* kDefaultListen = "127.0.0.1:8470";

// Empty for "off"; throws std::invalid_argument with what is wrong.
std::optional<ListenAddress> parseListenAddress(const QString& text);
