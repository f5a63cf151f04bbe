// The demo's data files: every picture and the music open through here.
#pragma once

#include <cstdio>

// Opens the regular file at `path` for binary reading without ever waiting
// on a FIFO, a pipe or a device; null when it is missing, unreadable or
// anything but a regular file. Called by the picture loader and the music
// stream.
std::FILE* OpenDataFile(const char* path);
