// The Windows releases, unzipped. WindowsReleaseFiles checks one without
// running it: a window program for its word size, every DLL it imports in
// the zip or part of Windows, the data, the README and the licences.
// WindowsRelease plays it under Wine on the test display: it follows the
// script, plays the music file from its start, ends on Escape with status 0
// and on a missing picture with status 1. They run when
// MOVRA_WINDOWS_RELEASE names the unzipped release, and the played ones
// when MOVRA_WINE_LOADER names the Wine loader for its word size (./test
// windows sets both, with WINEPREFIX); the ordinary run leaves them out.
#include "audio_checks.h"
#include "files.h"
#include "mp3_files.h"
#include "screenshots.h"
#include "support.h"

#include <gtest/gtest.h>

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <thread>

namespace {

namespace fs = std::filesystem;

// The unzipped release that MOVRA_WINDOWS_RELEASE names; empty when none.
std::string ReleaseFolder() {
    const char* folder = std::getenv("MOVRA_WINDOWS_RELEASE");
    return folder ? folder : "";
}

class WindowsRelease : public testing::Test {
  protected:
    void SetUp() override {
        release = ReleaseFolder();
        const char* wine = std::getenv("MOVRA_WINE_LOADER");
        if (release.empty() || !wine)
            GTEST_SKIP() << "MOVRA_WINDOWS_RELEASE and MOVRA_WINE_LOADER name no release to play";
        loader = wine;
        // The display Wine's prefix was started on: a new one would make Wine
        // set itself up again for half a minute.
        display = OpenScreenshotDisplay(nullptr);
        ASSERT_NE(display, nullptr);
    }
    void TearDown() override {
        if (display)
            XCloseDisplay(display);
    }
    // Starts movra.exe under Wine from `folder` with extra environment
    // entries, through the loader named, never Debian's `wine` script: that
    // picks the 32-bit loader whenever it is installed.
    DemoProcess StartRelease(const std::string& folder, std::vector<std::string> environment) {
        environment.insert(environment.end(),
                           {"MOVRA_NO_DIALOGS=1", "WINEDEBUG=-all", "WINELOADER=" + loader});
        return StartProgram(loader, {"movra.exe"}, environment, folder);
    }
    // Presses Escape on the display, as a person would.
    void PressEscape() {
        const KeyCode escape = XKeysymToKeycode(display, XK_Escape);
        XTestFakeKeyEvent(display, escape, True, 0);
        XTestFakeKeyEvent(display, escape, False, 0);
        XSync(display, False);
    }
    std::string release, loader;
    Display* display = nullptr;
};

// The whole script with the music recorded by SDL's disk driver, ended with
// Escape. Takes the script's 93 s.
TEST_F(WindowsRelease, PlaysTheScriptAndTheMusicFileAndEndsOnEscape) {
    const std::string dir = MakeTemporaryFolder();
    const std::string recording = dir + "/played.raw";
    DemoProcess demo =
        StartRelease(release, {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + recording});
    // Wine starts the Windows process, and with it the demo's clock, some
    // time after the command, so the script is timed from the first frame.
    ASSERT_NE(WaitForDemoWindow(display, 60), 0u) << WaitForDemo(demo, 1).errors;
    ExpectScreenshotsFollowTheScript(display, WaitForFirstFrame(display, 30));
    PressEscape();
    ChildResult result = WaitForDemo(demo, 30);
    EXPECT_EQ(result.status, 0) << result.errors;

    // The file from its first sample, as Linux's libmpg123 decodes it; the
    // Windows build's generic x86 decoder rounds one sample in two thousand
    // the other way.
    const std::vector<int16_t> played = ReadRawSamples(recording);
    const std::vector<int16_t> music = DecodeMp3(release + "/data/sound/dovevivaz.mp3");
    ASSERT_LT(FirstSound(music), music.size());
    ASSERT_LT(FirstSound(played), played.size()) << "nothing was played";
    ASSERT_GE(FirstSound(played), FirstSound(music));
    const size_t start = FirstSound(played) - FirstSound(music);
    EXPECT_EQ(start % 2, 0u) << "the music starts on a right-hand sample";
    // The first request comes once the demo clock passes one second; the
    // music is heard until Escape, past 90 s.
    EXPECT_LT(start / 2, 3 * 44100u);
    const size_t heard = std::min(played.size() - start, music.size());
    EXPECT_GT(heard / 2, 85 * 44100u);
    size_t worst = 0, worstAt = 0;
    for (size_t i = 0; i < heard; ++i) {
        const size_t off = size_t(std::abs(played[start + i] - music[i]));
        if (off > worst)
            worst = off, worstAt = i;
    }
    EXPECT_LE(worst, 1u) << "played differs from the file at frame " << worstAt / 2;
    RemoveFolder(dir);
}

TEST_F(WindowsRelease, MissingPictureShowsTheMessageAndEndsWithStatusOne) {
    const std::string dir = MakeTemporaryFolder();
    fs::copy(release, dir, fs::copy_options::recursive);
    fs::remove(dir + "/data/pic/skuta.jpg");
    DemoProcess demo = StartRelease(dir, {"SDL_AUDIODRIVER=dummy"});
    ChildResult result = WaitForDemo(demo, 60);
    EXPECT_EQ(result.status, 1) << result.errors;
    EXPECT_NE(result.errors.find("Error: Unable to load JPG File!"), std::string::npos)
        << result.errors;
    RemoveFolder(dir);
}

class WindowsReleaseFiles : public testing::Test {
  protected:
    void SetUp() override {
        release = ReleaseFolder();
        if (release.empty())
            GTEST_SKIP() << "MOVRA_WINDOWS_RELEASE names no unzipped Windows release";
    }
    std::string release;
};

// `text` in lower case: Windows compares file names without case.
std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// What binutils' objdump prints with `options` for a Windows program or DLL;
// it reads both word sizes' formats.
std::string ObjectDump(const std::string& options, const std::string& path) {
    std::string text;
    const std::string command = "objdump " + options + " '" + path + "'";
    FILE* dump = popen(command.c_str(), "r");
    if (!dump)
        return text;
    char line[512];
    while (std::fgets(line, sizeof line, dump))
        text += line;
    EXPECT_EQ(pclose(dump), 0) << command;
    return text;
}

// The DLLs a Windows program or DLL names in its import table, in lower case.
std::vector<std::string> ImportedDlls(const std::string& path) {
    std::vector<std::string> names;
    const std::string dump = ObjectDump("-p", path);
    for (size_t at = dump.find("DLL Name: "); at != std::string::npos;
         at = dump.find("DLL Name: ", at + 1)) {
        const size_t end = dump.find_first_of(" \r\n", at + 10);
        names.push_back(LowerCase(dump.substr(at + 10, end - at - 10)));
    }
    return names;
}

// The release's programs: movra.exe and its DLLs.
std::vector<std::string> Programs(const std::string& release) {
    std::vector<std::string> programs;
    for (const fs::directory_entry& entry : fs::directory_iterator(release)) {
        const std::string name = LowerCase(entry.path().filename().string());
        if (name == "movra.exe" || entry.path().extension() == ".dll")
            programs.push_back(entry.path().string());
    }
    return programs;
}

TEST_F(WindowsReleaseFiles, ProgramsAreWindowProgramsOfTheReleasesWordSize) {
    // movra-win32 holds PE32 files for i386, movra-win64 PE32+ for x86-64.
    const bool wide = fs::path(release).filename() == "movra-win64";
    const std::string format = wide ? "file format pei-x86-64" : "file format pei-i386";
    const std::vector<std::string> programs = Programs(release);
    ASSERT_EQ(programs.size(), 2u) << "movra.exe and libmpg123-0.dll";
    for (const std::string& program : programs) {
        const std::string dump = ObjectDump("-p", program);
        EXPECT_NE(dump.find(format), std::string::npos) << program << "\n" << dump.substr(0, 200);
        EXPECT_NE(dump.find(wide ? "\t(PE32+)\n" : "\t(PE32)\n"), std::string::npos) << program;
    }
    // A window program: Windows opens no console beside it.
    EXPECT_NE(ObjectDump("-p", release + "/movra.exe").find("Subsystem\t\t00000002\t(Windows GUI)"),
              std::string::npos);
}

TEST_F(WindowsReleaseFiles, EveryImportedDllIsInTheZipOrPartOfWindows) {
    // What every Windows since XP has in its system folder.
    const std::set<std::string> windows = {
        "advapi32.dll", "gdi32.dll",   "glu32.dll",    "imm32.dll",    "kernel32.dll",
        "msvcrt.dll",   "ole32.dll",   "oleaut32.dll", "opengl32.dll", "setupapi.dll",
        "shlwapi.dll",  "shell32.dll", "user32.dll",   "version.dll",  "winmm.dll"};
    std::set<std::string> shipped;
    const std::vector<std::string> programs = Programs(release);
    for (const std::string& program : programs)
        if (fs::path(program).extension() == ".dll")
            shipped.insert(LowerCase(fs::path(program).filename().string()));
    ASSERT_FALSE(programs.empty());
    for (const std::string& program : programs) {
        const std::vector<std::string> imports = ImportedDlls(program);
        EXPECT_FALSE(imports.empty()) << program;
        for (const std::string& dll : imports)
            EXPECT_TRUE(shipped.count(dll) || windows.count(dll))
                << program << " imports " << dll << ", which Windows lacks";
    }
    // mpg123 is LGPL: it ships as its own DLL, which movra.exe imports.
    EXPECT_EQ(shipped.count("libmpg123-0.dll"), 1u);
}

TEST_F(WindowsReleaseFiles, HoldsTheDataTheReadmeAndTheLicences) {
    // The repository's pictures and music, byte for byte.
    const fs::path data = fs::path(MOVRA_SOURCE_DIR) / "data";
    int files = 0;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(data)) {
        if (!entry.is_regular_file())
            continue;
        ++files;
        const fs::path shipped = fs::path(release) / fs::relative(entry.path(), data.parent_path());
        EXPECT_TRUE(fs::is_regular_file(shipped) &&
                    ReadFileBytes(shipped.string()) == ReadFileBytes(entry.path().string()))
            << shipped;
    }
    EXPECT_EQ(files, 11) << "ten pictures and the music";
    EXPECT_TRUE(fs::is_regular_file(release + "/README.txt"));
    for (const char* package : {"libjpeg-turbo", "libsdl2", "kissfft", "mpg123"})
        EXPECT_TRUE(fs::is_regular_file(release + "/licences/" + package + ".txt")) << package;
}

} // namespace
