// The Linux release, unpacked. LinuxReleaseFiles reads what the program
// needs from the system; LinuxRelease plays it on a display of its own,
// started from another folder as a file manager or a launcher would. They
// run when MOVRA_LINUX_RELEASE names the unpacked release folder (./test
// release sets it); the ordinary run leaves them out.
#include "files.h"
#include "screenshots.h"
#include "support.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

namespace {

namespace fs = std::filesystem;

// The unpacked release that MOVRA_LINUX_RELEASE names; empty when none.
std::string ReleaseFolder() {
    const char* folder = std::getenv("MOVRA_LINUX_RELEASE");
    return folder ? fs::canonical(folder).string() : "";
}

// What a command prints on its standard output; the test fails when it fails.
std::string CommandOutput(const std::string& command) {
    std::string text;
    EXPECT_TRUE(RunCommand(command, text)) << command;
    return text;
}

// Every first group of `pattern` in `text`.
std::set<std::string> Matches(const std::string& text, const char* pattern) {
    std::set<std::string> found;
    const std::regex expression(pattern);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), expression);
         it != std::sregex_iterator(); ++it)
        found.insert((*it)[1]);
    return found;
}

class LinuxReleaseFiles : public testing::Test {
  protected:
    void SetUp() override {
        release = ReleaseFolder();
        if (release.empty())
            GTEST_SKIP() << "MOVRA_LINUX_RELEASE names no unpacked Linux release";
    }
    std::string release;
};

TEST_F(LinuxReleaseFiles, NeedsOfTheSystemOnlyTheCLibraryAndGl) {
    // The GNU C library's parts and libGL, which every desktop has; mpg123,
    // LGPL, is the release's own, found beside the program ($ORIGIN).
    const std::set<std::string> system = {"libc.so.6",  "libm.so.6",       "libdl.so.2",
                                          "librt.so.1", "libpthread.so.0", "ld-linux-x86-64.so.2",
                                          "libGL.so.1"};
    const struct {
        const char* file;
        std::set<std::string> bundled;
    } programs[] = {{"movra", {"libmpg123.so.0"}}, {"libmpg123.so.0", {}}};
    for (const auto& program : programs) {
        const std::string path = release + "/" + program.file;
        const std::string dynamic = CommandOutput("readelf -d '" + path + "'");
        const std::set<std::string> needed =
            Matches(dynamic, R"(\(NEEDED\)\s+Shared library: \[([^\]]+)\])");
        EXPECT_FALSE(needed.empty()) << path;
        for (const std::string& library : needed)
            EXPECT_TRUE(system.count(library) || program.bundled.count(library))
                << program.file << " needs " << library
                << ", which is neither the system's nor in the release";
        for (const std::string& library : program.bundled)
            EXPECT_TRUE(needed.count(library) && fs::is_regular_file(release + "/" + library))
                << library;
        const std::set<std::string> runPath =
            Matches(dynamic, R"(\((?:RUNPATH|RPATH)\)\s+Library r\w*path: \[([^\]]*)\])");
        EXPECT_EQ(runPath, program.bundled.empty() ? std::set<std::string>{}
                                                   : std::set<std::string>{"$ORIGIN"})
            << path;
        // Glibc 2.36 (Debian 12) has every symbol version it asks for.
        for (const std::string& version :
             Matches(CommandOutput("objdump -T '" + path + "'"), R"(GLIBC_2\.(\d+))"))
            EXPECT_LE(std::stoi(version), 36) << path << " needs GLIBC_2." << version;
    }
}

class LinuxRelease : public LinuxReleaseFiles {
  protected:
    void SetUp() override {
        LinuxReleaseFiles::SetUp();
        if (IsSkipped())
            return;
        displayName = StartPrivateDisplay(1280, 1024);
        ASSERT_FALSE(displayName.empty()) << "Xvfb did not start";
        display = OpenScreenshotDisplay(displayName.c_str());
        ASSERT_NE(display, nullptr);
        elsewhere = MakeTemporaryFolder();
    }
    void TearDown() override {
        if (display)
            XCloseDisplay(display);
        if (!displayName.empty())
            StopPrivateDisplay();
        if (!elsewhere.empty())
            RemoveFolder(elsewhere);
    }
    // Starts the release's program in `folder` from the working folder
    // `elsewhere`, which holds no data/, silently and without dialogs.
    DemoProcess StartRelease(const std::string& folder) {
        return StartProgram(folder + "/movra", {},
                            {"DISPLAY=" + displayName, "SDL_AUDIODRIVER=dummy",
                             "MOVRA_NO_DIALOGS=1", "LD_LIBRARY_PATH"},
                            elsewhere);
    }
    std::string displayName, elsewhere;
    Display* display = nullptr;
};

// The shared objects a running process has mapped, by path.
std::set<std::string> MappedObjects(int pid) {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::set<std::string> paths;
    std::string line;
    while (std::getline(maps, line)) {
        const size_t path = line.find('/');
        if (path != std::string::npos && line.find(".so", path) != std::string::npos)
            paths.insert(line.substr(path));
    }
    return paths;
}

TEST_F(LinuxRelease, FromAnotherFolderShowsTheFirstPictureWithItsOwnLibrariesAndEndsOnEscape) {
    DemoProcess demo = StartRelease(release);
    ASSERT_NE(WaitForDemoWindow(display), 0u) << WaitForDemo(demo, 1).errors;
    EXPECT_TRUE(WaitForFirstPicture(display)) << "the first picture never showed";
    // SDL2, libjpeg, kissfft and GLU are in the program; mpg123 is the
    // release's own. None comes from the system's folders.
    bool ownMpg123 = false;
    for (const std::string& path : MappedObjects(demo.pid)) {
        const std::string name = fs::path(path).filename().string();
        ownMpg123 |= path == release + "/libmpg123.so.0";
        for (const char* library : {"libSDL2", "libjpeg", "libmpg123", "libkissfft", "libGLU"})
            EXPECT_FALSE(name.rfind(library, 0) == 0 && path.rfind(release + "/", 0) != 0)
                << "the running demo maps " << path;
    }
    EXPECT_TRUE(ownMpg123) << "libmpg123.so.0 is not mapped from " << release;
    PressEscape(display);
    ChildResult result = WaitForDemo(demo, 30);
    EXPECT_EQ(result.status, 0) << result.errors;
}

TEST_F(LinuxRelease, MissingPictureSaysSoAndEndsWithStatusOne) {
    const std::string copy = MakeTemporaryFolder() + "/movra-linux-x86_64";
    fs::copy(release, copy, fs::copy_options::recursive);
    fs::remove(copy + "/data/pic/skuta.jpg");
    ChildResult result = WaitForDemo(StartRelease(copy), 60);
    EXPECT_EQ(result.status, 1) << result.errors;
    EXPECT_NE(result.errors.find("Error: Unable to load JPG File!"), std::string::npos)
        << result.errors;
    RemoveFolder(fs::path(copy).parent_path().string());
}

} // namespace
