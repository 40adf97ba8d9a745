#include "CommandFrame.h"

unsigned char checkCharacter(const QByteArray& payload)
{
    int accumulator = 0;
    for (const char c : payload)
        accumulator ^= static_cast<unsigned char>(c);
    if (accumulator < 16)
        accumulator += 16;
    return static_cast<unsigned char>(accumulator);
}

QByteArray commandFrame(const Loose& payload)
{
    QByteArray frame = payload.bytes();
    frame.append(static_cast<char>(checkCharacter(frame)));
    frame.append('\r');
    return frame;
}
