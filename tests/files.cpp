// File helpers shared by the tests and benchmarks.
#include "files.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

std::string MakeTemporaryFolder() {
    std::error_code error;
    const fs::path temporary = fs::temp_directory_path(error);
    std::random_device random;
    // A name another process took already is tried again with another.
    for (int attempt = 0; attempt < 100 && !error; ++attempt) {
        const fs::path path = temporary / ("movra-test-" + std::to_string(random()));
        if (fs::create_directory(path, error))
            return path.string();
    }
    return "";
}

void RemoveFolder(const std::string& path) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

std::string CaptureStderr(const std::function<void()>& body) {
    std::fflush(stderr);
    // A file with a name: Emscripten's dup2 opens the file again by it.
    const std::string folder = MakeTemporaryFolder();
    std::FILE* capture = std::fopen((folder + "/stderr").c_str(), "w+b");
    int saved = dup(2);
    dup2(fileno(capture), 2);
    body();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::string text;
    std::rewind(capture);
    for (int c = std::fgetc(capture); c != EOF; c = std::fgetc(capture))
        text += char(c);
    std::fclose(capture);
    RemoveFolder(folder);
    return text;
}

int CountOpenFiles() {
    int count = 0;
    struct stat info;
    for (int fd = 0; fd < 4096; ++fd)
        count += fstat(fd, &info) == 0;
    return count;
}
