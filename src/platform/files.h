// The demo's data files: every picture and the music open through here.
#pragma once

#include <cstdio>
#include <string>

// Where the data file at `path` (relative, as "data/pic/lyn.jpg") is read
// from: under the working directory when it holds data/, else beside the
// program, else in the program's parent folder (so a program in build/
// finds the repository's data/ wherever it is started from); as given when
// no such folder holds data/, or when `path` is absolute. The folder is
// chosen at the first call. Called by start-up for the pictures and the
// music.
std::string DataFilePath(const char* path);

// Tells whether `path` (UTF-8) names a folder; called by DataFilePath.
bool IsFolder(const char* path);

// Opens the regular file at `path` (UTF-8) for binary reading without ever
// waiting on a FIFO, a pipe or a device, and without keeping others from
// reading, writing or deleting it meanwhile; null when it is missing,
// unreadable or anything but a regular file. Called by the picture loader
// and the music stream.
std::FILE* OpenDataFile(const char* path);
