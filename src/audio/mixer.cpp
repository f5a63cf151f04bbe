// Play requests and the callback's side of the streams: taking decoded frames
// from the rings into the device buffer and recording what was handed over.
// Nothing here reads files, allocates or takes a lock. In the browser, where
// the callback runs on the page's one thread, it also decodes when a ring
// runs low.
#include "audio/audio.h"
#include "audio/playback.h"
#include "platform/worker.h"

#include <chrono>
#include <cstring>

// Reads the monotonic clock in nanoseconds; called by the callback and the spectrum.
int64_t ReadClockNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Asks the callback to start the stream from its first frame; later requests
// change nothing. Called by TickDemo.
bool PlayMusicStream(uint32_t handle) {
    MusicStream* stream = FindMusicStream(handle);
    if (!stream || !g_audioDevice)
        return false;
    int ready = kStreamReady;
    stream->state.compare_exchange_strong(ready, kStreamRequested);
    return true;
}

// Publishes where the stream stands as a callback begins; called by MixStream.
static void PublishClock(MusicStream* stream, int64_t frame, int64_t now) {
    const uint32_t sequence = stream->clockSequence.load(std::memory_order_relaxed);
    stream->clockSequence.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    stream->clockFrame.store(frame, std::memory_order_relaxed);
    stream->clockNanos.store(now, std::memory_order_relaxed);
    stream->clockSequence.store(sequence + 2, std::memory_order_release);
}

// Adds one sample to another, held to the 16-bit range; called by MixStream.
static int16_t AddClamped(int16_t a, int16_t b) {
    const int sum = int(a) + int(b);
    return int16_t(sum > 32767 ? 32767 : sum < -32768 ? -32768 : sum);
}

// Adds one stream's next frames to the device buffer and records them in its
// history; a stream whose decoder has finished and whose ring is empty has
// ended. Called by MixPlayingStreams.
static void MixStream(MusicStream* stream, int16_t* out, int frames, int64_t now) {
    int state = stream->state.load(std::memory_order_acquire);
    if (state == kStreamRequested) {
        state = kStreamPlaying;
        stream->state.store(state, std::memory_order_release);
    }
    if (state != kStreamPlaying)
        return;
    // A decoder with no thread of its own (the browser's) is asked for more
    // here once the ring is half empty: a hidden page's timers come once a
    // second, but its audio is still pulled. Its worker thread does it on
    // the desktop, where this does nothing.
    if (stream->ringWritten.load(std::memory_order_acquire) -
            stream->ringRead.load(std::memory_order_relaxed) <
        uint64_t(kRingFrames / 2))
        RunWorkerNow(stream->decoderWorker);
    const int64_t first = stream->handedFrames;
    PublishClock(stream, first, now);
    // decodedAll is loaded first: once it is set, ringWritten is final.
    const bool decodedAll = stream->decodedAll.load(std::memory_order_acquire);
    const uint64_t read = stream->ringRead.load(std::memory_order_relaxed);
    const uint64_t available = stream->ringWritten.load(std::memory_order_acquire) - read;
    const int count = available < uint64_t(frames) ? int(available) : frames;
    if (count == 0 && decodedAll) {
        stream->state.store(kStreamEnded, std::memory_order_release);
        return;
    }
    stream->historyClaimed.store(first + count, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    for (int i = 0; i < count; ++i) {
        const int16_t* frame = stream->ring + ((read + i) % kRingFrames) * kChannels;
        out[2 * i] = AddClamped(out[2 * i], frame[0]);
        out[2 * i + 1] = AddClamped(out[2 * i + 1], frame[1]);
        stream->history[(first + i) % kHistoryFrames].store(MixToMono(frame[0], frame[1]),
                                                            std::memory_order_relaxed);
    }
    stream->historyEnd.store(first + count, std::memory_order_release);
    stream->ringRead.store(read + count, std::memory_order_release);
    stream->handedFrames = first + count;
    // A short ring with the decoder still going leaves silence in the rest.
}

// Fills one device buffer from the playing streams; called by the callback.
void MixPlayingStreams(int16_t* out, int frames, int64_t now) {
    std::memset(out, 0, size_t(frames) * kChannels * sizeof(int16_t));
    for (std::atomic<MusicStream*>& slot : g_streams) {
        MusicStream* stream = slot.load(std::memory_order_acquire);
        if (stream)
            MixStream(stream, out, frames, now);
    }
}
