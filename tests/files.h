// File helpers shared by the tests and benchmarks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Makes a fresh folder in the system's temporary folder and returns its
// path ("" on failure).
std::string MakeTemporaryFolder();

// Removes a folder and everything in it.
void RemoveFolder(const std::string& path);

// Reads a whole file; empty when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::string& path);

// Writes bytes to a file, replacing it; false when it cannot.
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Runs `body` with standard error going to a temporary file and returns what
// it wrote.
std::string CaptureStderr(const std::function<void()>& body);

// Counts this process's open file descriptors (the first 4096).
int CountOpenFiles();
