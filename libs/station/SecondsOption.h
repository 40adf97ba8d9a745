#pragma once
// A number of seconds given to the station, on its command line or in its
// configuration file. "nan" and "inf" read as numbers, and NaN fails every
// comparison, so a bare range check would let it through: only a finite
// number within the bounds is taken.

#include <QString>

struct SecondsBounds {
    double lowest;
    double highest;
};

// Empty when value is a finite number within bounds; else the refusal in the
// same words wherever it was given: "--silence takes seconds from 2 to 3, not
// 'nan'". given is the value as written.
QString secondsRefusal(const QString& option, double value, const QString& given, SecondsBounds bounds);

// The command line's text read as seconds (C locale); NaN when it is no number.
double secondsFromText(const QString& text);
