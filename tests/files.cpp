// File helpers shared by the tests and benchmarks.
#include "files.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

std::string MakeTemporaryFolder() {
    char path[] = "/tmp/movra-test-XXXXXX";
    return mkdtemp(path) ? path : "";
}

void RemoveFolder(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
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
