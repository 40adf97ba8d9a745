#pragma once
// A recipe: the labels a unit gets, in order, each into its slot. Its files
// are checked and read once, when the station starts, and held in memory
// with their SHA-256, so a whole shift sends what was checked at start.
//
//   name = "line 7 labels, rev C"
//   [[label]]
//   slot = 1
//   file = "ship.epl"      # relative to the recipe
//   sha256 = "9f86d0..."   # optional: refuse to start if the file differs
//   allow_empty = true     # optional: a file of 0 bytes blanks the slot
//   [serial]               # optional: what a unit's serial is (scan/SerialRule.h)
//   pattern = "^SN[0-9]{6}$"
//   check = "none"
//   duplicates = "refuse"

#include "scan/SerialRule.h"
#include "wire/LabelFile.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <stdexcept>

struct RecipeLabel {
    int slot = 0;        // 1 to 5
    QString file;        // as the recipe writes it
    LabelFileFacts facts;  // of the file as read at start
    QByteArray bytes;    // what goes to every unit
    QString sha256;      // of bytes, lower-case hex
};

struct Recipe {
    QString path;
    QString name;
    QString sha256;  // of the recipe's text
    QList<RecipeLabel> labels;
    SerialRule serial;
};

inline constexpr int kMaxRecipeLabels = 5;

// What keeps a recipe from being used; the text names the recipe's line.
struct RecipeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Reads, checks and holds everything, or throws RecipeError.
Recipe loadRecipe(const QString& path);
