// What the audio layer's files share: the open streams, the device's state
// and the records the audio callback leaves for the spectrum.
//
// Threads: the main thread opens streams and asks for spectra; one decoder
// worker per stream (a thread of its own, or steps between the browser's
// events on the web) decodes the file's bytes into that stream's ring; SDL's
// audio thread runs the callback, which drains the rings into the device
// buffer and records what it handed over. Nobody waits on the audio thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

struct mpg123_handle_struct;
struct Worker;

constexpr int kSampleRate = 44100;    // the device's rate, and every stream's output rate
constexpr int kChannels = 2;          // stereo, 16-bit signed samples
constexpr int kDeviceFrames = 1024;   // the device buffer asked for, about 23 ms
constexpr int kMaxStreams = 8;        // open streams at once; handles run 1..kMaxStreams
constexpr int kRingFrames = 32768;    // decoded frames kept ahead of the device, about 0.74 s
constexpr int kHistoryFrames = 16384; // frames kept after the device took them, about 0.37 s
constexpr int kSnapshotFrames = 512;  // frames in one spectrum snapshot

// A stream's life: opened, asked to play, playing, played to its end.
enum StreamState : int { kStreamReady, kStreamRequested, kStreamPlaying, kStreamEnded };

struct MusicStream {
    // The file and its decoder: set up at open, then used by the decoder
    // worker alone until the stream is closed.
    std::vector<uint8_t> file;
    size_t fileAt = 0;
    mpg123_handle_struct* decoder = nullptr;
    Worker* decoderWorker = nullptr;
    std::atomic<bool> decodedAll{false}; // set after the last ringWritten store

    // Decoded stereo frames: one writer (decoder worker), one reader (callback).
    // Both counters are absolute frame numbers; frame n sits at n % kRingFrames.
    int16_t ring[kRingFrames * kChannels];
    std::atomic<uint64_t> ringWritten{0};
    std::atomic<uint64_t> ringRead{0};

    std::atomic<int> state{kStreamReady};

    // The callback's record. handedFrames counts the frames given to the
    // device since the stream started (callback only). history holds them
    // mixed to mono in [-1, 1], frame n at n % kHistoryFrames: the callback
    // raises historyClaimed before it overwrites, and historyEnd after.
    int64_t handedFrames = 0;
    std::atomic<float> history[kHistoryFrames];
    std::atomic<int64_t> historyClaimed{0};
    std::atomic<int64_t> historyEnd{0};

    // Where the stream stood when the last callback began: the frames
    // handed before it and the clock then. clockSequence is odd while the
    // callback writes the pair.
    std::atomic<uint32_t> clockSequence{0};
    std::atomic<int64_t> clockFrame{0};
    std::atomic<int64_t> clockNanos{0};
};

// The offline music: decoded frames and the frame heard now, both set on the
// main thread only. Its handle is the one after the streams'.
constexpr uint32_t kOfflineMusicHandle = kMaxStreams + 1;
struct OfflineMusic {
    std::vector<int16_t> samples; // interleaved stereo; empty when none is open
    int64_t audibleFrame = 0;
};

extern std::atomic<MusicStream*> g_streams[kMaxStreams]; // open streams; slot = handle - 1
extern OfflineMusic g_offlineMusic;                      // the offline music, if open
extern uint32_t g_audioDevice;               // SDL's device id; 0 when there is no device
extern int g_deviceBufferFrames;             // the device buffer SDL granted, in frames
extern std::atomic<int64_t> g_callbackNanos; // time spent inside the callback so far
extern std::atomic<int64_t> g_callbackRuns;  // callbacks run so far

// The stream behind a handle, or null; called by the play and spectrum calls.
MusicStream* FindMusicStream(uint32_t stream);

// Mixes one stereo frame to mono in [-1, 1]; called by the callback for the
// history and by the offline spectrum.
inline float MixToMono(int16_t left, int16_t right) {
    return float(int(left) + int(right)) * (1.0f / 65536.0f);
}

// Reads a whole music file into `bytes`; false when it cannot be read, is
// empty or is too large. Called by OpenMusicStream and OpenOfflineMusic.
bool ReadMusicFile(const char* path, std::vector<uint8_t>& bytes);

// Reads the monotonic clock in nanoseconds; called by the callback and the spectrum.
int64_t ReadClockNanos();

// Reads the frames handed before the last callback and the clock when it
// began; called by the spectrum and tests.
void ReadStreamClock(const MusicStream* stream, int64_t* frame, int64_t* nanos);

// Prepares the spectrum's transform and window; called by OpenMusicStream
// and OpenOfflineMusic.
void PrepareSpectrum();

// Fills one device buffer from the playing streams; called by the callback.
void MixPlayingStreams(int16_t* out, int frames, int64_t now);

// Keeps the callback from running until ReleaseDeviceCallback; called by CloseMusicStream.
void HoldDeviceCallback();
void ReleaseDeviceCallback();

// Stops a stream's decoder and frees the stream; called by tests and
// benchmarks only (the demo keeps its music to the end).
void CloseMusicStream(uint32_t stream);
