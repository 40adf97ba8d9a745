#pragma once
// What every scanner's text goes through: a serial scanner's bytes cut into
// scans at CR, LF or CRLF, and the AIM symbology identifier (]C1, ]Q3, ]E0,
// ]d2: "]", a letter, a digit) that scanners may put before the data taken off.

#include <QByteArray>
#include <QString>
#include <vector>

// A scan as a reader ends it; with `problem`, one that is not whole.
struct ScannedLine {
    QString text;
    QString problem;
};

// No barcode a fixture scans is this long; a line that is has no end.
inline constexpr qsizetype kLongestScan = 4096;

QString withoutSymbologyPrefix(const QString& scan);

class LineSplitter {
public:
    // The scans these bytes end; the rest waits for its line end. Empty lines
    // (the LF of a CRLF among them) are no scans.
    std::vector<ScannedLine> feed(const QByteArray& bytes);
    // What came without its line end, as when the scanner went.
    void reset();

private:
    QByteArray pending_;
    bool overlong_ = false;
};
