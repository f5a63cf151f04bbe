// The spectrum of what is audible now: the 512 frames before the estimated
// playing position, mixed to mono, Hann-windowed and transformed by kissfft.
// The offline music takes the same snapshot before the frame its caller
// says is heard.
//
// Playing position: when a callback begins, the device is still playing the
// buffer the previous callback filled, so the first frame this callback
// hands over is heard one device buffer (B frames) later. From the clock the
// callback published (frames handed before it, F, at time T) the frame heard
// at time t is F - B + (t - T) * rate, held to at most F when the next
// callback is late. Frames before the stream's first are silence.
#include "audio/audio.h"
#include "audio/playback.h"

#include <kiss_fftr.h>

#include <cmath>

float g_spectrum[kSpectrumSize];

constexpr int kBands = kSnapshotFrames / 2; // 256 magnitudes, 0 .. rate / 2

// Prepared once, when the first stream opens: the transform, its window and
// buffers, so that no tick allocates.
static kiss_fftr_cfg s_transform;
static float s_window[kSnapshotFrames];
static float s_samples[kSnapshotFrames];
static kiss_fft_cpx s_bins[kBands + 1];

// Allocates the transform and fills the periodic Hann window once; called by
// OpenMusicStream.
void PrepareSpectrum() {
    if (s_transform)
        return;
    s_transform = kiss_fftr_alloc(kSnapshotFrames, 0, nullptr, nullptr);
    const double pi = std::acos(-1.0);
    for (int n = 0; n < kSnapshotFrames; ++n)
        s_window[n] = float(0.5 * (1.0 - std::cos(2.0 * pi * n / kSnapshotFrames)));
}

// Windows the samples and writes |X[k]| / 512 for k = 0..255 into spectrum;
// a full-scale sine centred on band k reads 0.25 there. Called by
// ReadMusicSpectrum.
static void TransformSnapshot(float* samples, float* spectrum) {
    for (int n = 0; n < kSnapshotFrames; ++n)
        samples[n] *= s_window[n];
    kiss_fftr(s_transform, samples, s_bins);
    for (int k = 0; k < kBands; ++k)
        spectrum[k] =
            std::sqrt(s_bins[k].r * s_bins[k].r + s_bins[k].i * s_bins[k].i) / kSnapshotFrames;
}

// Reads the clock the last callback published, retrying while the callback
// writes it (a few nanoseconds); called by EstimateAudibleFrame and tests.
void ReadStreamClock(const MusicStream* stream, int64_t* frame, int64_t* nanos) {
    for (;;) {
        const uint32_t before = stream->clockSequence.load(std::memory_order_acquire);
        *frame = stream->clockFrame.load(std::memory_order_relaxed);
        *nanos = stream->clockNanos.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        const uint32_t after = stream->clockSequence.load(std::memory_order_relaxed);
        if (before == after && (before & 1) == 0)
            return;
    }
}

// The stream frame being heard now (see the top of this file); called by
// ReadMusicSpectrum.
static int64_t EstimateAudibleFrame(const MusicStream* stream) {
    int64_t handed = 0, then = 0;
    ReadStreamClock(stream, &handed, &then);
    const int64_t buffer = g_deviceBufferFrames;
    int64_t elapsed = (ReadClockNanos() - then) * kSampleRate / 1000000000;
    elapsed = elapsed < 0 ? 0 : elapsed > buffer ? buffer : elapsed;
    return handed - buffer + elapsed;
}

// Fills samples with the snapshot's frames from `first` on, frames outside
// [0, end) being silence, each read through `monoAt`; called by the live
// and the offline snapshot.
template <typename MonoAt>
static void CopySnapshot(int64_t first, int64_t end, float* samples, MonoAt monoAt) {
    for (int n = 0; n < kSnapshotFrames; ++n) {
        const int64_t frame = first + n;
        samples[n] = frame < 0 || frame >= end ? 0.0f : monoAt(frame);
    }
}

// Copies the mono history from `first` on into samples; false when the
// callback overwrote part of it while we read. Called by ReadMusicSpectrum.
static bool CopyHistory(const MusicStream* stream, int64_t first, float* samples) {
    const int64_t end = stream->historyEnd.load(std::memory_order_acquire);
    CopySnapshot(first, end, samples, [stream](int64_t frame) {
        return stream->history[frame % kHistoryFrames].load(std::memory_order_relaxed);
    });
    std::atomic_thread_fence(std::memory_order_acquire);
    return stream->historyClaimed.load(std::memory_order_relaxed) <= first + kHistoryFrames;
}

// The offline music's snapshot: the frames before the heard one, mixed as
// the callback mixes them; false, with the buffer untouched, once the whole
// file has been heard. Called by ReadMusicSpectrum.
static bool ReadOfflineSpectrum(float* spectrum) {
    const std::vector<int16_t>& samples = g_offlineMusic.samples;
    const int64_t end = int64_t(samples.size() / kChannels);
    const int64_t heard = g_offlineMusic.audibleFrame;
    if (samples.empty() || heard > end)
        return false;
    CopySnapshot(heard - kSnapshotFrames, end, s_samples, [&](int64_t frame) {
        return MixToMono(samples[size_t(frame) * 2], samples[size_t(frame) * 2 + 1]);
    });
    TransformSnapshot(s_samples, spectrum);
    return true;
}

// Writes the spectrum of what is audible now into spectrum[0..255]; false,
// with the buffer untouched, when the stream is not playing. Called by TickDemo.
bool ReadMusicSpectrum(uint32_t handle, float* spectrum) {
    if (handle == kOfflineMusicHandle && spectrum && s_transform)
        return ReadOfflineSpectrum(spectrum);
    const MusicStream* stream = FindMusicStream(handle);
    if (!stream || !spectrum || !g_audioDevice || !s_transform)
        return false;
    // A reader that slept through a third of a second of playing tries again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (stream->state.load(std::memory_order_acquire) != kStreamPlaying)
            return false;
        if (CopyHistory(stream, EstimateAudibleFrame(stream) - kSnapshotFrames, s_samples)) {
            TransformSnapshot(s_samples, spectrum);
            return true;
        }
    }
    return false;
}
