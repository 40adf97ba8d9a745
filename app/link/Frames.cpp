// Command frames: payload, check character, carriage return.

#include "Form1.h"

QString Form1::BNC(const Loose& Gelen) const
{
    // XOR of the payload's 8-bit codes; an empty payload counts as 0. Results
    // below 16 are lifted by 16 so the check is never a control code below 0x10.
    int accumulator = 0;
    for (const char c : Gelen.bytes())
        accumulator ^= static_cast<unsigned char>(c);
    if (accumulator < 16)
        accumulator += 16;
    return QString(QChar(accumulator));
}

void Form1::Gönder(const Loose& ss)
{
    // One write per frame.
    MSComm1.setOutput(ss.text() + BNC(ss) + QChar(13));
}
