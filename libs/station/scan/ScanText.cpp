#include "ScanText.h"

QString withoutSymbologyPrefix(const QString& scan)
{
    if (scan.size() >= 3 && scan[0] == u']' && scan[1].isLetter() && scan[1].unicode() < 128 && scan[2].isDigit()
        && scan[2].unicode() < 128)
        return scan.mid(3);
    return scan;
}

std::vector<ScannedLine> LineSplitter::feed(const QByteArray& bytes)
{
    std::vector<ScannedLine> lines;
    for (const char c : bytes) {
        if (c == '\r' || c == '\n') {
            if (overlong_)
                lines.push_back({withoutSymbologyPrefix(QString::fromUtf8(pending_.left(32))) + QStringLiteral("..."),
                                 QStringLiteral("a scan longer than %1 characters").arg(kLongestScan)});
            else if (!pending_.isEmpty())
                lines.push_back({withoutSymbologyPrefix(QString::fromUtf8(pending_)), {}});
            reset();
            continue;
        }
        if (pending_.size() < kLongestScan)
            pending_ += c;
        else
            overlong_ = true;
    }
    return lines;
}

void LineSplitter::reset()
{
    pending_.clear();
    overlong_ = false;
}
