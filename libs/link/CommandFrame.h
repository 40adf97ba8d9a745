#pragma once
// The command frame on the line: payload, one check character, carriage return.

#include "Loose.h"

#include <QByteArray>

// XOR of the payload's bytes (the empty payload counts as 0), lifted by 16
// when below 16, so it is never a control code under 0x10.
unsigned char checkCharacter(const QByteArray& payload);

QByteArray commandFrame(const Loose& payload);
