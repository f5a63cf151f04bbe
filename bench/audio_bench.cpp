// The audio layer's costs, each against a floor measured in the same run:
// opening a 95 s stream against reading its bytes (and a full decode), the
// callback's share of one core while playing, and a spectrum snapshot
// against kissfft's bare 512-point real transform.
//
//   build/bench/audio_bench [--table] [music.mp3]   (default: 95 s made here with lame)
#include "audio/audio.h"
#include "audio/playback.h"
#include "bench_support.h"
#include "mp3_files.h"

#include <kiss_fftr.h>
#include <mpg123.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <random>
#include <thread>

static bool s_table; // print rows for bench/report instead of the text

// Seconds taken by one call of `work`.
static double TimeOnce(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The median of `runs` timings of `work`, each repeated `repeat` times and
// divided by it.
static double MedianSeconds(int runs, int repeat, const std::function<void()>& work) {
    std::vector<double> times;
    for (int run = 0; run < runs; ++run)
        times.push_back(TimeOnce([&] {
                            for (int i = 0; i < repeat; ++i)
                                work();
                        }) /
                        repeat);
    std::nth_element(times.begin(), times.begin() + runs / 2, times.end());
    return times[size_t(runs / 2)];
}

// CPU time of the whole process in seconds.
static double ProcessCpuSeconds() {
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + now.tv_nsec * 1e-9;
}

// 95 s of music-like sound: a slow chord that changes every second, a beat
// and some noise, so the encoder has real work.
static std::vector<int16_t> SynthesizedMusic(double seconds) {
    std::mt19937 random(3);
    std::uniform_real_distribution<double> noise(-0.08, 0.08);
    const double pi = std::acos(-1.0);
    std::vector<int16_t> samples;
    samples.reserve(size_t(seconds * 44100) * 2);
    for (int n = 0; n < int(seconds * 44100); ++n) {
        const double t = n / 44100.0;
        const double root = 110.0 * std::pow(2.0, (int(t) % 7) / 12.0);
        const double beat = std::exp(-12 * std::fmod(t, 0.5)) * std::sin(2 * pi * 60 * t);
        const double chord = std::sin(2 * pi * root * t) + 0.6 * std::sin(2 * pi * root * 1.5 * t);
        for (int channel = 0; channel < 2; ++channel)
            samples.push_back(
                int16_t(std::lround(32767 * (0.3 * chord + 0.3 * beat + noise(random)) * 0.8)));
    }
    return samples;
}

// A full decode of the file with libmpg123, as a music player would; the
// decoded frame count.
static long DecodeWholeFile(const std::vector<uint8_t>& bytes) {
    mpg123_handle* decoder = mpg123_new(nullptr, nullptr);
    mpg123_param(decoder, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_format_none(decoder);
    mpg123_format(decoder, 44100, MPG123_STEREO, MPG123_ENC_SIGNED_16);
    mpg123_open_feed(decoder);
    static int16_t out[1 << 16];
    size_t got = 0;
    long frames = 0;
    int result = mpg123_decode(decoder, bytes.data(), bytes.size(), out, sizeof out, &got);
    while (result != MPG123_ERR && result != MPG123_NEED_MORE) {
        frames += long(got / 4);
        result = mpg123_decode(decoder, nullptr, 0, out, sizeof out, &got);
    }
    frames += long(got / 4);
    mpg123_delete(decoder);
    return frames;
}

// Reads the file's bytes into memory, as OpenMusicStream does first.
static std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return bytes;
    std::fseek(file, 0, SEEK_END);
    bytes.resize(size_t(std::ftell(file)));
    std::fseek(file, 0, SEEK_SET);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    std::fclose(file);
    return bytes;
}

// Times OpenMusicStream against reading the file and against a full decode.
static void BenchOpen(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadBytes(path);
    const double read = MedianSeconds(21, 1, [&] { ReadBytes(path); });
    std::vector<double> opens;
    for (int run = 0; run < 21; ++run) {
        uint32_t stream = 0;
        opens.push_back(TimeOnce([&] { stream = OpenMusicStream(path.c_str()); }));
        if (stream == 0) {
            std::fprintf(stderr, "could not open %s\n", path.c_str());
            std::exit(1);
        }
        CloseMusicStream(stream); // stops its decoder thread; not timed
    }
    std::nth_element(opens.begin(), opens.begin() + 10, opens.end());
    const double open = opens[10];
    long frames = 0;
    const double decode = MedianSeconds(3, 1, [&] { frames = DecodeWholeFile(bytes); });
    if (s_table) {
        PrintTableRow("music stream open", Format("%.2f ms", open * 1e3),
                      Format("%.2f ms reading the file", read * 1e3), Format("%.2f", open / read),
                      "-");
        return;
    }
    std::printf("stream open, a %.1f s file of %.2f MB (medians):\n", frames / 44100.0,
                bytes.size() / 1e6);
    std::printf("  read its bytes (floor)   %9.3f ms\n", read * 1e3);
    std::printf("  OpenMusicStream          %9.3f ms   %.2fx the floor (target: under 5 ms)\n",
                open * 1e3, open / read);
    std::printf("  full decode              %9.3f ms   %.0fx the open, so open decodes no more "
                "than its first frame\n",
                decode * 1e3, decode / open);
}

// Plays the stream for a few seconds and measures the time spent inside the
// callback against the wall time, and the whole process's CPU time.
static void BenchCallback(uint32_t stream) {
    const double seconds = 4;
    PlayMusicStream(stream);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const int64_t nanos = g_callbackNanos.load(), runs = g_callbackRuns.load();
    const double cpu = ProcessCpuSeconds();
    const double wall =
        TimeOnce([&] { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); });
    const double inside = (g_callbackNanos.load() - nanos) * 1e-9;
    const int64_t callbacks = g_callbackRuns.load() - runs;
    const double process = ProcessCpuSeconds() - cpu;
    // The floor: copying one device buffer of frames, the least a callback does.
    std::vector<int16_t> from(size_t(g_deviceBufferFrames) * 2, 1), to(from.size());
    const double copy = MedianSeconds(21, 1000, [&] {
        std::copy(from.begin(), from.end(), to.begin());
        asm volatile("" : : "r"(to.data()) : "memory");
    });
    const double each = callbacks ? inside / double(callbacks) : 0;
    if (s_table) {
        PrintTableRow("audio callback", Format("%.2f us", each * 1e6),
                      Format("%.2f us copying its buffer", copy * 1e6), Format("%.2f", each / copy),
                      "-");
        return;
    }
    std::printf("callback while playing, dummy driver, %.1f s:\n", wall);
    std::printf("  %lld callbacks of %d frames, %.2f us each (a bare copy of the buffer: "
                "%.2f us, %.1fx)\n",
                (long long)callbacks, g_deviceBufferFrames, each * 1e6, copy * 1e6, each / copy);
    std::printf("  share of one core inside the callback   %.3f %%\n", 100 * inside / wall);
    std::printf("  whole process (decoder, SDL, callback)  %.3f %%\n", 100 * process / wall);
}

// Times a snapshot while the music plays against kissfft's bare transform.
static void BenchSnapshot(uint32_t stream) {
    float spectrum[kSpectrumSize];
    if (!ReadMusicSpectrum(stream, spectrum)) {
        std::fprintf(stderr, "the stream is not playing\n");
        std::exit(1);
    }
    const double snapshot = MedianSeconds(21, 2000, [&] { ReadMusicSpectrum(stream, spectrum); });
    kiss_fftr_cfg transform = kiss_fftr_alloc(kSnapshotFrames, 0, nullptr, nullptr);
    float samples[kSnapshotFrames];
    kiss_fft_cpx bins[kSnapshotFrames / 2 + 1];
    for (int n = 0; n < kSnapshotFrames; ++n)
        samples[n] = std::sin(n * 0.3f);
    const double bare = MedianSeconds(21, 2000, [&] {
        kiss_fftr(transform, samples, bins);
        asm volatile("" : : "r"(bins) : "memory");
    });
    kiss_fftr_free(transform);
    if (s_table) {
        PrintTableRow("spectrum snapshot", Format("%.2f us", snapshot * 1e6),
                      Format("%.2f us bare kissfft 512", bare * 1e6),
                      Format("%.2f", snapshot / bare), "-");
        return;
    }
    std::printf("spectrum snapshot (medians):\n");
    std::printf("  kissfft 512-point real transform (floor) %7.3f us\n", bare * 1e6);
    std::printf("  ReadMusicSpectrum                        %7.3f us   %.2fx the floor\n",
                snapshot * 1e6, snapshot / bare);
}

// Makes or takes the music, then runs the three measurements.
int main(int argc, char** argv) {
    s_table = TakeTableOption(argc, argv);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    std::string dir, path = argc > 1 ? argv[1] : "";
    if (path.empty()) {
        dir = MakeTemporaryFolder();
        path = dir + "/music.mp3";
        if (!s_table)
            std::printf("encoding 95 s of music with lame...\n");
        if (!EncodeMp3(SynthesizedMusic(95), 44100, 2, path, 160)) {
            std::fprintf(stderr, "lame failed\n");
            return 1;
        }
    }
    mpg123_init();
    BenchOpen(path);
    if (!OpenAudioDevice()) {
        std::fprintf(stderr, "no audio device\n");
        return 1;
    }
    const uint32_t stream = OpenMusicStream(path.c_str());
    BenchCallback(stream);
    BenchSnapshot(stream);
    if (!dir.empty())
        RemoveFolder(dir);
    return 0;
}
