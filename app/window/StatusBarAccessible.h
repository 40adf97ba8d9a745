#pragma once
// The status bar as assistive technology sees it: a status bar with one
// child per panel. A panel is named by what it shows (its text, or for the
// indicator, which shows only a picture, its tooltip text), says what it is
// for and which key works it, and can be pressed like a button.

// Makes the bar's interface known to Qt's accessibility; once is enough.
void installStatusBarAccessibility();
