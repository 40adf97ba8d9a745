#pragma once
// The settings frame's lists as assistive technology sees them: named by
// their label, valued by their choice. Qt on Linux names a list by its
// choice, so a screen reader said "Baud Rate combo box" and never the rate.

class QComboBox;
class QLabel;

// The list takes the label's text as its name.
void labelSettingsList(QComboBox* list, const QLabel* label);
