#pragma once
// How the port number, held as text, becomes the 16-bit integer the serial
// component takes, and which errors the port scan goes on after.

#include <QString>
#include <QtGlobal>

// A number in the text, rounded half to even: " 3 " gives 3, "2.5" gives 2.
// A text that is no number fails with 13 (type mismatch), a number outside
// the 16-bit range with 6 (overflow).
qint16 toInteger16(const QString& text);

// The numbers after which the port scan goes on: 8002, 8005, 8012 and 8018.
// Any other ends it.
bool scanGoesOn(int number);
