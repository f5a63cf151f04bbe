// The demo binary's music: a bad file leaves it running, a good one plays
// once from the first second. POSIX: it starts the Linux binary and ends it
// with SIGINT.
#include "audio/audio.h"
#include "audio_checks.h"
#include "mp3_files.h"
#include "support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <signal.h>
#include <thread>

namespace fs = std::filesystem;

// Lays out a working folder for the demo binary: the real pictures and the
// given music file as data/sound/dovevivaz.mp3.
static std::string DemoFolderWithMusic(const std::function<bool(const std::string&)>& writeMusic) {
    const std::string dir = MakeTemporaryFolder();
    fs::create_directories(dir + "/data/sound");
    fs::create_symlink(std::string(MOVRA_SOURCE_DIR) + "/data/pic", dir + "/data/pic");
    EXPECT_TRUE(writeMusic(dir + "/" + kMusicPath));
    return dir;
}

// Runs the demo binary in `dir` for `ms`, then sends SIGINT; the exit status.
static ChildResult RunDemoFor(const std::string& dir, int ms,
                              const std::vector<std::string>& environment) {
    DemoProcess demo = StartDemoBinary(environment, dir);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    kill(demo.pid, SIGINT);
    return WaitForDemo(demo, 20);
}

TEST(AudioDemo, BadMusicFileLeavesTheDemoRunningSilently) {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr);
    const std::string dir = DemoFolderWithMusic([](const std::string& path) {
        return WriteFileBytes(path, std::vector<uint8_t>(4096, 'x'));
    });
    const ChildResult result =
        RunDemoFor(dir, 2000, {"MOVRA_NO_DIALOGS=1", "SDL_AUDIODRIVER=dummy"});
    EXPECT_EQ(result.status, 0) << result.errors;
    RemoveFolder(dir);
}

TEST(AudioDemo, DemoPlaysItsMusicOnceFromTheFirstSecond) {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr);
    const std::string dir = DemoFolderWithMusic(
        [](const std::string& path) { return EncodeMp3(TestMusic(1.5), 44100, 2, path); });
    const std::vector<int16_t> decoded = DecodeMp3(dir + "/" + kMusicPath);
    const std::string recording = dir + "/played.raw";
    DemoProcess demo = StartDemoBinary(
        {"MOVRA_NO_DIALOGS=1", "SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + recording}, dir);
    // The recording grows as the device plays, however slowly the demo
    // starts: it is stopped once the recording could hold a second before
    // the music, the music and its tail (or after a minute).
    const uintmax_t wanted = (2 * 44100 + decoded.size() + 2 * 4096) * sizeof(int16_t);
    const auto start = std::chrono::steady_clock::now();
    std::error_code error;
    while (!(fs::file_size(recording, error) >= wanted && !error) &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(60))
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    kill(demo.pid, SIGINT);
    const ChildResult result = WaitForDemo(demo, 20);
    EXPECT_EQ(result.status, 0) << result.errors;
    const std::vector<int16_t> recorded = ReadRawSamples(recording);
    ExpectPlayedOnce(recorded, decoded, 4096);
    // The first request comes once the demo clock passes one second.
    EXPECT_LT(FirstSound(recorded) / 2, 44100u);
    RemoveFolder(dir);
}
