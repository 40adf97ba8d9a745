// Gönder and BNC: the window's way to send command frames.

#include "Form1.h"
#include "link/CommandFrame.h"

QString Form1::BNC(const Loose& Gelen) const
{
    return QString(QChar(checkCharacter(Gelen.bytes())));
}

void Form1::Gönder(const Loose& ss)
{
    wire_.send(ss);
}
