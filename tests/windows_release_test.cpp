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

#include <X11/Xlib.h>
#include <algorithm>
#include <chrono>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
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
        const char* named = std::getenv("MOVRA_WINE_LOADER");
        if (release.empty() || !named)
            GTEST_SKIP() << "MOVRA_WINDOWS_RELEASE and MOVRA_WINE_LOADER name no release to play";
        loader = named;
        // The display Wine's prefix was started on: a new one would make Wine
        // set itself up again for half a minute.
        display = OpenScreenshotDisplay(nullptr);
        ASSERT_NE(display, nullptr);
    }
    void TearDown() override {
        if (display)
            XCloseDisplay(display);
    }
    // Starts `program` (movra.exe of the folder) under Wine from `folder`
    // with extra environment entries, through the loader named, never
    // Debian's `wine` script: that picks the 32-bit loader whenever it is
    // installed.
    DemoProcess StartRelease(const std::string& folder, std::vector<std::string> environment,
                             const std::string& program = "movra.exe") {
        environment.insert(environment.end(),
                           {"MOVRA_NO_DIALOGS=1", "WINEDEBUG=-all", "WINELOADER=" + loader});
        return StartProgram(loader, {program}, environment, folder);
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
    // SDL's disk driver keeps pace with the clock only as well as a busy
    // machine lets it, so the recording is waited for (up to 3 s before the
    // music and 86 s of it) rather than the clock.
    const uintmax_t wanted = uintmax_t(3 + 86) * 44100 * 4;
    std::error_code error;
    for (int i = 0; i < 600 && fs::file_size(recording, error) < wanted; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    PressEscape(display);
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

// A missing picture ends start-up with the demo's message, a damaged one
// with libjpeg's and the picture's path; both with status 1.
TEST_F(WindowsRelease, MissingOrDamagedPictureShowsItsMessageAndEndsWithStatusOne) {
    const struct {
        bool damaged;
        const char* message;
    } cases[] = {
        {false, "Error: Unable to load JPG File!"},
        {true, "Error: Not a JPEG file: starts with 0x47 0x49: data/pic/skuta.jpg"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const std::string dir = MakeTemporaryFolder();
        fs::copy(release, dir, fs::copy_options::recursive);
        const std::string picture = dir + "/data/pic/skuta.jpg";
        if (c.damaged)
            WriteFileBytes(picture, {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0});
        else
            fs::remove(picture);
        DemoProcess demo = StartRelease(dir, {"SDL_AUDIODRIVER=dummy"});
        ChildResult result = WaitForDemo(demo, 60);
        EXPECT_EQ(result.status, 1) << result.errors;
        EXPECT_NE(result.errors.find(c.message), std::string::npos)
            << "status " << result.status << ", standard error: \"" << result.errors << '"';
        RemoveFolder(dir);
    }
}

// Started from another folder, as by a shortcut whose "Start in" is
// elsewhere, the demo finds its data beside the program.
TEST_F(WindowsRelease, StartedFromAnotherFolderPlaysItsFirstPicture) {
    const std::string elsewhere = MakeTemporaryFolder();
    DemoProcess demo = StartRelease(elsewhere, {"SDL_AUDIODRIVER=dummy"}, release + "/movra.exe");
    ASSERT_NE(WaitForDemoWindow(display, 60), 0u) << WaitForDemo(demo, 1).errors;
    EXPECT_TRUE(WaitForFirstPicture(display));
    PressEscape(display);
    ChildResult result = WaitForDemo(demo, 30);
    EXPECT_EQ(result.status, 0) << result.errors;
    RemoveFolder(elsewhere);
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
    EXPECT_TRUE(RunCommand(command, text)) << command;
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

// The resources of a Windows program, read from its file through the PE
// headers and the resource directory: for each type ID, the data of each
// entry (of every name and language).
std::map<uint32_t, std::vector<std::string>> ReadResources(const std::string& path) {
    const std::vector<uint8_t> file = ReadFileBytes(path);
    const auto u16 = [&](size_t at) {
        return at + 2 <= file.size() ? uint32_t(file[at] | file[at + 1] << 8) : 0u;
    };
    const auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    std::map<uint32_t, std::vector<std::string>> resources;
    const size_t pe = u32(0x3c), optional = pe + 24;
    if (u32(pe) != 0x4550) // "PE\0\0"
        return resources;
    // The resource table is the third data directory, after 96 bytes of
    // PE32's optional header or 112 of PE32+'s.
    const uint32_t tableAddress = u32(optional + (u16(optional) == 0x20b ? 112 : 96) + 16);
    // Where an address of the loaded program lies in the file; 0 outside every section.
    const auto fileOffset = [&](uint32_t address) -> size_t {
        const size_t sections = optional + u16(pe + 20);
        for (size_t i = 0; i < u16(pe + 6); ++i) {
            const size_t header = sections + i * 40;
            const uint32_t start = u32(header + 12), size = u32(header + 16);
            if (address >= start && address < start + size)
                return u32(header + 20) + (address - start);
        }
        return 0;
    };
    const size_t table = fileOffset(tableAddress);
    // Each level is a directory of entries: types, then names, then languages.
    const auto entries = [&](size_t directory) {
        std::vector<std::pair<uint32_t, uint32_t>> list;
        const size_t count = u16(table + directory + 12) + u16(table + directory + 14);
        for (size_t i = 0; i < count && table; ++i)
            list.push_back({u32(table + directory + 16 + i * 8),
                            u32(table + directory + 20 + i * 8) & 0x7fffffff});
        return list;
    };
    for (const auto& [type, names] : entries(0))
        for (const auto& name : entries(names))
            for (const auto& language : entries(name.second)) {
                const size_t data = fileOffset(u32(table + language.second));
                const size_t size = u32(table + language.second + 4);
                if (data && data + size <= file.size())
                    resources[type].push_back(
                        std::string(file.begin() + data, file.begin() + data + size));
            }
    return resources;
}

TEST_F(WindowsReleaseFiles, ProgramHoldsItsIconVersionAndManifest) {
    std::map<uint32_t, std::vector<std::string>> resources = ReadResources(release + "/movra.exe");
    // One icon group (type 14) with every size from 16 to 256 (0 is 256).
    ASSERT_EQ(resources[14].size(), 1u);
    const std::string& group = resources[14][0];
    std::set<int> sides;
    for (size_t at = 6; at + 14 <= group.size(); at += 14)
        sides.insert(uint8_t(group[at]) ? uint8_t(group[at]) : 256);
    EXPECT_EQ(sides, (std::set<int>{16, 24, 32, 48, 64, 128, 256}));
    EXPECT_EQ(resources[3].size(), sides.size()) << "an icon image (type 3) for each size";
    // The version (type 16) names the product, in UTF-16.
    ASSERT_EQ(resources[16].size(), 1u);
    std::string wide;
    for (char c : std::string("Movra first demo"))
        wide += std::string{c, '\0'};
    EXPECT_NE(resources[16][0].find(wide), std::string::npos);
    // The manifest (type 24): no elevation, the display's own pixels at any
    // scaling, and Windows 7 to 11 known.
    ASSERT_EQ(resources[24].size(), 1u);
    const std::string& manifest = resources[24][0];
    for (const char* part :
         {"level=\"asInvoker\"", ">PerMonitorV2, PerMonitor</dpiAwareness>", ">true/pm</dpiAware>",
          "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
          "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
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
