#pragma once
// What a file that is not a regular one is, in words: "a FIFO", "a folder".

#include <QString>
#include <sys/types.h>

QString fileKind(mode_t mode);
