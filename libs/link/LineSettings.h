#pragma once
// The settings text "baud,parity,data,stop" ("9600,n,8,1"), parsed strictly.

#include <QString>

struct LineSettings {
    enum class Parity { None, Even, Odd, Mark, Space };
    enum class StopBits { One, OneAndHalf, Two };

    qint32 baud = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;

    // Refuses anything but four comma-separated fields of the right kind with
    // error 380 (invalid property value).
    static LineSettings parse(const QString& text);
    // Bits one character takes on the line: start, data, parity, stop.
    double bitsPerCharacter() const;
};
