// The audio layer: streams on real MP3 files made here, played through SDL's
// real dummy and disk drivers, and the spectrum of what is audible.
#include "audio/audio.h"
#include "audio/playback.h"
#include "audio_checks.h"
#include "mp3_files.h"
#include "support.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <random>
#include <thread>

using Clock = std::chrono::steady_clock;

constexpr float kSentinel = -7.0f;
constexpr double kBinHz = 44100.0 / 512; // the width of one spectrum band

// Runs body in a child process with SDL's audio driver set (and the disk
// driver's file), then closes SDL so a recording is complete. The child's
// failures are printed by it and make its status non-zero.
static void ExpectInAudioChild(const std::string& driver, const std::string& diskFile,
                               const std::function<void()>& body) {
    ChildResult child = RunInChild([&] {
        SetEnvironment("SDL_AUDIODRIVER", driver);
        SetEnvironment("SDL_DISKAUDIOFILE", diskFile);
        body();
        SDL_Quit();
        std::fflush(stdout);
        return ::testing::Test::HasFailure() ? 1 : 0;
    });
    EXPECT_EQ(child.status, 0) << child.errors;
}

// Sleeps for a number of milliseconds.
static void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Waits until the device's callback has run `count` times in all, so that
// what it played is known by its own count rather than by the clock; gives
// up after 20 s, when the checks after it fail.
static void WaitForCallbacks(int64_t count) {
    const Clock::time_point start = Clock::now();
    while (g_callbackRuns.load() < count && Clock::now() - start < std::chrono::seconds(20))
        SleepMs(1);
}

// A spectrum buffer filled with the sentinel.
static std::vector<float> SentinelSpectrum() {
    return std::vector<float>(kSpectrumSize, kSentinel);
}

// Requests play every few milliseconds, as the demo's ticks do, until the
// stream has played and ended (or a timeout); calls `each` with every
// snapshot and the seconds of the stream the device had taken by the last
// callback, which a busy machine delays no more than the snapshot.
static void PlayToEnd(uint32_t stream, const std::function<void(const float*, double)>& each = {}) {
    const Clock::time_point start = Clock::now();
    bool played = false;
    std::vector<float> spectrum = SentinelSpectrum();
    while (Clock::now() - start < std::chrono::seconds(15)) {
        EXPECT_TRUE(PlayMusicStream(stream));
        int64_t frame = 0, nanos = 0;
        ReadStreamClock(FindMusicStream(stream), &frame, &nanos);
        const double seconds = double(frame) / kSampleRate;
        const bool playing = ReadMusicSpectrum(stream, spectrum.data());
        if (played && !playing)
            return;
        played = played || playing;
        if (playing && each)
            each(spectrum.data(), seconds);
        SleepMs(2);
    }
    ADD_FAILURE() << "the stream did not end";
}

size_t FirstSound(const std::vector<int16_t>& samples, size_t from) {
    return size_t(std::find_if(samples.begin() + std::min(from, samples.size()), samples.end(),
                               [](int16_t s) { return s != 0; }) -
                  samples.begin());
}

void ExpectPlayedOnce(const std::vector<int16_t>& recorded, const std::vector<int16_t>& decoded,
                      size_t tailFrames) {
    ASSERT_GT(decoded.size(), 44100u);
    // The test music starts with sound, so its first sample marks where it began.
    ASSERT_EQ(FirstSound(decoded), 0u);
    const size_t start = FirstSound(recorded);
    ASSERT_LT(start, recorded.size()) << "nothing was played";
    EXPECT_GT(start, 0u) << "no silence before the first play request";
    ASSERT_EQ(start % 2, 0u) << "the music starts on a right-hand sample";
    ASSERT_GE(recorded.size(), start + decoded.size() + 2 * tailFrames)
        << "the recording stops " << (start + decoded.size() - recorded.size()) / 2
        << " frames before the end of the music and its tail";
    const auto differ =
        std::mismatch(decoded.begin(), decoded.end(), recorded.begin() + long(start));
    EXPECT_EQ(differ.first, decoded.end())
        << "played differs from the decode at frame " << (differ.first - decoded.begin()) / 2;
    EXPECT_EQ(FirstSound(recorded, start + decoded.size()), recorded.size())
        << "sound after the music's end";
}

std::vector<int16_t> TestMusic(double seconds) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> noise(-0.05, 0.05);
    const double pi = std::acos(-1.0);
    std::vector<int16_t> samples;
    for (int n = 0; n < int(seconds * 44100); ++n) {
        const double t = n / 44100.0;
        const double left = 0.4 * std::sin(2 * pi * 440 * t + 0.5) + noise(random);
        const double right = 0.3 * std::sin(2 * pi * 660 * t + 1.0) + noise(random);
        samples.push_back(int16_t(std::lround(32767 * left)));
        samples.push_back(int16_t(std::lround(32767 * right)));
    }
    return samples;
}

// Writes the four kinds of file with no music in `dir` and returns their paths.
static std::vector<std::string> FilesWithNoMusic(const std::string& dir) {
    std::vector<uint8_t> garbage(64 * 1024);
    std::mt19937 random(11);
    for (uint8_t& byte : garbage)
        byte = uint8_t(random());
    // An ID3v2.3 tag holding one title frame, and nothing after it.
    const std::string title = "\x03"
                              "Nothing here";
    const std::string tag = std::string("ID3\x03\0\0\0\0\0", 9) + char(10 + title.size()) +
                            std::string("TIT2\0\0\0", 7) + char(title.size()) +
                            std::string("\0\0", 2) + title;
    EXPECT_TRUE(WriteFileBytes(dir + "/empty.mp3", {}));
    EXPECT_TRUE(WriteFileBytes(dir + "/garbage.mp3", garbage));
    EXPECT_TRUE(WriteFileBytes(dir + "/tag-only.mp3", {tag.begin(), tag.end()}));
    return {dir + "/missing.mp3", dir + "/empty.mp3", dir + "/garbage.mp3", dir + "/tag-only.mp3"};
}

TEST(AudioStreams, FilesWithNoMusicOpenAsZeroAndNeverPlay) {
    const std::string dir = MakeTemporaryFolder();
    std::vector<std::string> paths = FilesWithNoMusic(dir);
    // Opening these would wait on a FIFO or a device, or read a folder as a file.
    for (const std::string& path : MakeNonRegularFiles(dir))
        paths.push_back(path);
    ExpectInAudioChild("dummy", "", [&] {
        ASSERT_TRUE(OpenAudioDevice());
        std::vector<float> spectrum = SentinelSpectrum();
        for (const std::string& path : paths) {
            const uint32_t stream = OpenMusicStream(path.c_str());
            EXPECT_EQ(stream, 0u) << path;
            EXPECT_FALSE(PlayMusicStream(stream)) << path;
            EXPECT_FALSE(ReadMusicSpectrum(stream, spectrum.data())) << path;
        }
        EXPECT_EQ(OpenMusicStream(nullptr), 0u);
        EXPECT_FALSE(PlayMusicStream(kMaxStreams + 1));
        EXPECT_FALSE(ReadMusicSpectrum(kMaxStreams + 1, spectrum.data()));
        EXPECT_EQ(spectrum, SentinelSpectrum());
    });
    RemoveFolder(dir);
}

TEST(AudioStreams, WholeFileDecodeIsLibmpg123sOwnOrNothing) {
    const std::string dir = MakeTemporaryFolder();
    ASSERT_TRUE(EncodeMp3(TestMusic(1.5), 44100, 2, dir + "/music.mp3"));
    std::vector<std::string> paths = FilesWithNoMusic(dir);
    paths.insert(paths.begin(), dir + "/music.mp3");
    for (const std::string& path : paths) {
        const std::vector<uint8_t> bytes = ReadFileBytes(path);
        std::vector<int16_t> samples = {1, 2, 3};
        const bool playable = DecodeMusicFile(bytes.data(), bytes.size(), &samples);
        EXPECT_EQ(playable, path == paths[0]) << path;
        // The same samples as a straight decode, across many ring-sized reads.
        EXPECT_EQ(samples, playable ? DecodeMp3(path) : std::vector<int16_t>()) << path;
    }
    RemoveFolder(dir);
}

// A 48 kHz track (resampled to 44.1 kHz) whose info header claims four
// billion frames: trimming by that claim would hold the open for minutes,
// so it plays untrimmed.
TEST(AudioStreams, FrameCountClaimThatCannotFitTheFilePlaysUntrimmed) {
    const std::string dir = MakeTemporaryFolder(), path = dir + "/claims.mp3";
    ASSERT_TRUE(EncodeMp3(SineSamples(440, 0.5, 0.5, 48000, 2), 48000, 2, path));
    const std::vector<int16_t> trimmed = DecodeMp3(path);
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    const std::string file(bytes.begin(), bytes.end());
    const size_t tag = file.find("Info");
    ASSERT_NE(tag, std::string::npos) << "lame writes an info header";
    ASSERT_TRUE(bytes[tag + 7] & 1) << "with a frame count";
    for (int i = 8; i < 12; ++i)
        bytes[tag + i] = 0xff;
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    std::vector<int16_t> samples;
    ASSERT_TRUE(DecodeMusicFile(bytes.data(), bytes.size(), &samples));
    EXPECT_EQ(samples, DecodeMp3(path, false));
    EXPECT_GT(samples.size(), trimmed.size()); // the encoder's delay is still there
    RemoveFolder(dir);
}

TEST(AudioStreams, OpenGivesSmallHandlesEvenWithNoDevice) {
    const std::string dir = MakeTemporaryFolder();
    ASSERT_TRUE(EncodeMp3(TestMusic(0.5), 44100, 2, dir + "/music.mp3"));
    ExpectInAudioChild("no-such-driver", "", [&] {
        EXPECT_FALSE(OpenAudioDevice());
        const uint32_t first = OpenMusicStream((dir + "/music.mp3").c_str());
        const uint32_t second = OpenMusicStream((dir + "/music.mp3").c_str());
        EXPECT_GE(first, 1u);
        EXPECT_LE(second, uint32_t(kMaxStreams));
        EXPECT_NE(first, second);
        std::vector<float> spectrum = SentinelSpectrum();
        EXPECT_FALSE(PlayMusicStream(first));
        SleepMs(200);
        EXPECT_FALSE(ReadMusicSpectrum(first, spectrum.data()));
        EXPECT_EQ(spectrum, SentinelSpectrum());
        // A closed handle is free again and plays nothing.
        CloseMusicStream(second);
        EXPECT_FALSE(ReadMusicSpectrum(second, spectrum.data()));
        EXPECT_EQ(OpenMusicStream((dir + "/music.mp3").c_str()), second);
    });
    RemoveFolder(dir);
}

TEST(AudioPlayback, DiskDriverRecordsTheDecodeOnceFromItsFirstSample) {
    const std::string dir = MakeTemporaryFolder();
    const std::string mp3 = dir + "/music.mp3", recording = dir + "/played.raw";
    ASSERT_TRUE(EncodeMp3(TestMusic(1.5), 44100, 2, mp3));
    ExpectInAudioChild("disk", recording, [&] {
        ASSERT_TRUE(OpenAudioDevice());
        const uint32_t stream = OpenMusicStream(mp3.c_str());
        ASSERT_NE(stream, 0u);
        // The device plays silence until the first request, and after the
        // end, with requests still coming: a callback or more before, the
        // tail's worth and more after.
        WaitForCallbacks(2);
        PlayToEnd(stream);
        WaitForCallbacks(g_callbackRuns.load() + 4096 / g_deviceBufferFrames + 2);
        EXPECT_TRUE(PlayMusicStream(stream));
        WaitForCallbacks(g_callbackRuns.load() + 8);
    });
    ExpectPlayedOnce(ReadRawSamples(recording), DecodeMp3(mp3), 4096);
    RemoveFolder(dir);
}

TEST(AudioPlayback, OtherRatesAndMonoPlayAtTheirPitch) {
    const std::string dir = MakeTemporaryFolder();
    const int band = 8; // a tone centred on this band at 44.1 kHz
    ASSERT_TRUE(
        EncodeMp3(SineSamples(band * kBinHz, 0.8, 1.0, 48000, 1), 48000, 1, dir + "/48k-mono.mp3"));
    ASSERT_TRUE(EncodeMp3(SineSamples(band * kBinHz, 0.8, 1.0, 22050, 2), 22050, 2,
                          dir + "/22k-stereo.mp3"));
    ExpectInAudioChild("dummy", "", [&] {
        ASSERT_TRUE(OpenAudioDevice());
        for (const char* name : {"/48k-mono.mp3", "/22k-stereo.mp3"}) {
            const uint32_t stream = OpenMusicStream((dir + name).c_str());
            ASSERT_NE(stream, 0u) << name;
            int snapshots = 0;
            PlayToEnd(stream, [&](const float* spectrum, double seconds) {
                if (seconds < 0.3 || seconds > 0.8)
                    return; // skip the ends, where the window holds silence too
                ++snapshots;
                EXPECT_EQ(std::max_element(spectrum, spectrum + 256) - spectrum, band) << name;
                EXPECT_NEAR(spectrum[band], 0.8 * 0.25, 0.03) << name;
            });
            EXPECT_GT(snapshots, 10) << name;
        }
    });
    RemoveFolder(dir);
}

TEST(AudioSpectrum, SineOnBandFourReadsAQuarterOfItsAmplitude) {
    // A sine of amplitude A with exactly 4 periods in 512 frames, under a
    // periodic Hann window, gives |X[4]| / 512 = A / 4 and A / 8 in bands 3
    // and 5, nothing elsewhere. At A = 0.9 (no clipping after MP3's
    // ripple) that is 0.225; 0.02 allows for the 320 kbit/s encoding.
    const std::string dir = MakeTemporaryFolder();
    ASSERT_TRUE(
        EncodeMp3(SineSamples(4 * kBinHz, 0.9, 1.5, 44100, 2), 44100, 2, dir + "/sine.mp3"));
    ExpectInAudioChild("dummy", "", [&] {
        ASSERT_TRUE(OpenAudioDevice());
        const uint32_t stream = OpenMusicStream((dir + "/sine.mp3").c_str());
        ASSERT_NE(stream, 0u);
        int snapshots = 0;
        PlayToEnd(stream, [&](const float* spectrum, double seconds) {
            if (seconds < 0.3 || seconds > 1.2)
                return;
            ++snapshots;
            EXPECT_NEAR(spectrum[4], 0.225, 0.02);
            EXPECT_NEAR(spectrum[3], 0.1125, 0.02);
            EXPECT_NEAR(spectrum[5], 0.1125, 0.02);
            EXPECT_LT(*std::max_element(spectrum + 7, spectrum + 256), 0.01);
            EXPECT_LT(std::max(spectrum[0], spectrum[1]), 0.01);
            EXPECT_EQ(std::vector<float>(spectrum + 256, spectrum + 512),
                      std::vector<float>(256, kSentinel));
        });
        EXPECT_GT(snapshots, 20);
    });
    RemoveFolder(dir);
}

TEST(AudioSpectrum, SilenceReadsZero) {
    const std::string dir = MakeTemporaryFolder();
    ASSERT_TRUE(EncodeMp3(std::vector<int16_t>(2 * 44100, 0), 44100, 2, dir + "/silence.mp3"));
    ExpectInAudioChild("dummy", "", [&] {
        ASSERT_TRUE(OpenAudioDevice());
        const uint32_t stream = OpenMusicStream((dir + "/silence.mp3").c_str());
        ASSERT_NE(stream, 0u);
        int snapshots = 0;
        PlayToEnd(stream, [&](const float* spectrum, double) {
            ++snapshots;
            EXPECT_LT(*std::max_element(spectrum, spectrum + 256), 1e-6f);
        });
        EXPECT_GT(snapshots, 50);
    });
    RemoveFolder(dir);
}

TEST(AudioSpectrum, BufferUntouchedBeforeThePlayRequestAndAfterTheEnd) {
    const std::string dir = MakeTemporaryFolder();
    ASSERT_TRUE(EncodeMp3(SineSamples(1000, 0.5, 0.5, 44100, 2), 44100, 2, dir + "/tone.mp3"));
    ExpectInAudioChild("dummy", "", [&] {
        ASSERT_TRUE(OpenAudioDevice());
        const uint32_t stream = OpenMusicStream((dir + "/tone.mp3").c_str());
        ASSERT_NE(stream, 0u);
        std::vector<float> spectrum = SentinelSpectrum();
        WaitForCallbacks(8); // the device running, the decoder well ahead
        EXPECT_FALSE(ReadMusicSpectrum(stream, spectrum.data()));
        EXPECT_EQ(spectrum, SentinelSpectrum());
        bool sawTone = false;
        PlayToEnd(stream, [&](const float* snapshot, double) {
            sawTone = sawTone || snapshot[12] > 0.05f; // 1 kHz lies in band 11.6
        });
        EXPECT_TRUE(sawTone);
        EXPECT_FALSE(ReadMusicSpectrum(stream, spectrum.data()));
        EXPECT_EQ(spectrum, SentinelSpectrum());
    });
    RemoveFolder(dir);
}

TEST(AudioSpectrum, ToneShowsWithinOneDeviceBufferOfBecomingAudible) {
    // 0.4 s of silence, then a tone on band 8. Frame P of the stream is
    // audible one device buffer (B frames) after the callback hands it over,
    // so (P + B) / rate after the stream starts, and the stream starts at the
    // first callback after the play request, up to one buffer later. The
    // snapshot needs part of its 512 frames filled with the tone. So the tone
    // must first show no earlier than (P + B) / rate after the start, and no
    // later than one snapshot after that: from the request, one buffer plus
    // one snapshot. The onset is bracketed by the last snapshot without the
    // tone and the first with it, so a late poll cannot pass for a late
    // snapshot.
    // The dummy driver keeps time by sleeping on its own thread: it runs up
    // to 1% fast (whole-millisecond sleeps; 4 ms of slack covers that), and
    // on a loaded machine it falls behind. How far behind is measured from
    // the callbacks' own clock (their start times against the frames they
    // took), and the latest bounds move by that much.
    const std::string dir = MakeTemporaryFolder();
    const int silentFrames = 17640;
    std::vector<int16_t> samples(2 * silentFrames, 0);
    const std::vector<int16_t> tone = SineSamples(8 * kBinHz, 0.9, 0.6, 44100, 2);
    samples.insert(samples.end(), tone.begin(), tone.end());
    ASSERT_TRUE(EncodeMp3(samples, 44100, 2, dir + "/onset.mp3"));
    ExpectInAudioChild("dummy", "", [&] {
        ASSERT_TRUE(OpenAudioDevice());
        const uint32_t stream = OpenMusicStream((dir + "/onset.mp3").c_str());
        ASSERT_NE(stream, 0u);
        SleepMs(100);
        std::vector<float> spectrum = SentinelSpectrum();
        const double request = ReadClockNanos() * 1e-9;
        double seconds = 0, before = 0, shown = -1;
        int64_t frames[2] = {-1, -1}, nanos[2] = {}; // the device clock at the start and onset
        while (shown < 0 && seconds < request + 10) {
            PlayMusicStream(stream);
            // The snapshot is taken between these two readings of the clock:
            // one without the tone counts from the first, one with it from
            // the second, so a wait for a CPU in between moves neither bound.
            seconds = ReadClockNanos() * 1e-9;
            if (!ReadMusicSpectrum(stream, spectrum.data()))
                continue;
            const int at = spectrum[8] > 0.02f ? 1 : 0;
            if (at == 1)
                shown = ReadClockNanos() * 1e-9;
            else
                before = seconds;
            if (at == 1 || frames[0] < 0)
                ReadStreamClock(FindMusicStream(stream), &frames[at], &nanos[at]);
            SleepMs(1);
        }
        ASSERT_GT(shown, 0) << "the tone never showed";
        const double rate = 44100, buffer = g_deviceBufferFrames / rate;
        const double snapshot = kSnapshotFrames / rate, slack = 0.004;
        const double started = nanos[0] * 1e-9 - frames[0] / rate;
        const double behind = nanos[1] * 1e-9 - frames[1] / rate - started;
        const double audible = (silentFrames + g_deviceBufferFrames) / rate;
        EXPECT_GE(shown - request, audible - slack);
        EXPECT_LE(before - request, audible + buffer + snapshot + slack +
                                        std::max(0.0, started - request - buffer) +
                                        std::max(0.0, behind));
        EXPECT_GE(shown - started, audible - slack);
        EXPECT_LE(before - started, audible + snapshot + slack + std::max(0.0, behind));
        std::printf("the tone, %.1f ms into the file, is audible %.1f ms after the stream "
                    "starts, which was %.1f ms after the request; it shows %.1f .. %.1f ms "
                    "after the start, the device %.1f ms behind\n",
                    silentFrames / 44.1, audible * 1e3, (started - request) * 1e3,
                    (before - started) * 1e3, (shown - started) * 1e3, behind * 1e3);
    });
    RemoveFolder(dir);
}
