// The fuzz targets on their seeds and on every crash the fuzzers found:
// the seeds decode, and nothing found once crashes, hangs or leaks again.
#include "fuzz/targets.h"

#include "files.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using Target = bool (*)(const uint8_t*, size_t);

// Runs `target` on every file in fuzz/<kind>/<name>/ and returns how many
// of them it took as good input, and how many files there were.
std::pair<int, int> Replay(const std::string& kind, const std::string& name, Target target) {
    int good = 0, files = 0;
    const std::filesystem::path folder =
        std::filesystem::path(MOVRA_SOURCE_DIR) / "fuzz" / kind / name;
    std::error_code missing; // no crash found yet: no folder
    for (const auto& entry : std::filesystem::directory_iterator(folder, missing)) {
        if (!entry.is_regular_file() || entry.path().filename() == "README")
            continue;
        SCOPED_TRACE(entry.path().string());
        const std::vector<uint8_t> bytes = ReadFileBytes(entry.path());
        good += target(bytes.data(), bytes.size());
        ++files;
    }
    return {good, files};
}

TEST(FuzzReplay, SeedsDecodeAndNoCrashFoundSoFarComesBack) {
    struct Case {
        const char* name;
        Target target;
        int seeds, undecodableSeeds; // the picture of 380 scans is refused
    };
    const Case cases[] = {{"jpeg", FuzzJpegLoader, 6, 1}, {"music", FuzzMusicStream, 6, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto [good, files] = Replay("seeds", c.name, c.target);
        EXPECT_EQ(files, c.seeds);
        EXPECT_EQ(good, c.seeds - c.undecodableSeeds);
        // Found crashes only need to come through alive.
        Replay("crashes", c.name, c.target);
    }
}

} // namespace
