#pragma once
// How long a unit's load takes and how much of it is left, from the fixed
// waits of each stage and the stream's pacing: the device sets none of it.

#include "Recipe.h"
#include "wire/LoadSequence.h"

// The whole recipe, from the first poll to the last release.
double unitSeconds(const Recipe& recipe);
// What is left while label `label` is in `stage` with `sent` bytes streamed.
double unitSecondsLeft(const Recipe& recipe, int label, Wire::Stage stage, qint64 sent);
