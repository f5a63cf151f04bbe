// Music streams: an MP3 file's bytes in memory, a libmpg123 decoder fixed
// to 44.1 kHz stereo 16-bit, and a decoder worker that keeps the stream's
// ring about 0.7 s ahead of the device.
#include "audio/audio.h"
#include "audio/playback.h"
#include "platform/files.h"
#include "platform/worker.h"

#include <mpg123.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

uint32_t g_musicStream;
std::atomic<MusicStream*> g_streams[kMaxStreams];

// The decoder waits until this many frames are free, then fills the ring.
constexpr int kDecodeChunkFrames = 4096;
// Larger files are refused: 128 MiB is about an hour at 320 kbit/s.
constexpr long kMaxFileBytes = 128L << 20;
// A whole-file decode stops after ten minutes of music (about 106 MB).
constexpr size_t kMaxDecodedFrames = size_t(kSampleRate) * 600;
constexpr int kFrameBytes = kChannels * sizeof(int16_t);

// Reads a whole file into `bytes`; false when it cannot be read, is empty or
// is too large. Called by OpenMusicStream and OpenOfflineMusic.
bool ReadMusicFile(const char* path, std::vector<uint8_t>& bytes) {
    std::FILE* file = OpenDataFile(path);
    if (!file)
        return false;
    bool readAll = std::fseek(file, 0, SEEK_END) == 0;
    const long size = readAll ? std::ftell(file) : -1;
    readAll = size > 0 && size <= kMaxFileBytes && std::fseek(file, 0, SEEK_SET) == 0;
    if (readAll) {
        bytes.resize(size_t(size));
        readAll = std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
    }
    std::fclose(file);
    return readAll;
}

// Hands mpg123 the next bytes of the file in memory; called by libmpg123.
static mpg123_ssize_t ReadStreamBytes(void* handle, void* into, size_t count) {
    MusicStream* stream = static_cast<MusicStream*>(handle);
    const size_t n = std::min(count, stream->file.size() - stream->fileAt);
    std::memcpy(into, stream->file.data() + stream->fileAt, n);
    stream->fileAt += n;
    return mpg123_ssize_t(n);
}

// Moves mpg123's reading position in the file in memory; called by libmpg123.
static off_t SeekStreamBytes(void* handle, off_t offset, int whence) {
    MusicStream* stream = static_cast<MusicStream*>(handle);
    off_t base = 0;
    if (whence == SEEK_CUR)
        base = off_t(stream->fileAt);
    else if (whence == SEEK_END)
        base = off_t(stream->file.size());
    const off_t at = base + offset;
    if (at < 0 || at > off_t(stream->file.size()))
        return -1;
    stream->fileAt = size_t(at);
    return at;
}

// Opens the decoder on the file in memory from its start, with gapless
// trimming on or off, and checks that it finds MPEG audio it can give as
// 44.1 kHz stereo 16-bit; called by StartDecoder.
static bool OpenDecoder(MusicStream* stream, bool gapless) {
    mpg123_handle* decoder = stream->decoder;
    long rate = 0;
    int channels = 0, encoding = 0;
    stream->fileAt = 0;
    return mpg123_param(decoder, gapless ? MPG123_ADD_FLAGS : MPG123_REMOVE_FLAGS, MPG123_GAPLESS,
                        0) == MPG123_OK &&
           mpg123_open_handle(decoder, stream) == MPG123_OK &&
           mpg123_getformat(decoder, &rate, &channels, &encoding) == MPG123_OK &&
           rate == kSampleRate && channels == kChannels && encoding == MPG123_ENC_SIGNED_16;
}

// Sets up the decoder on the file in memory and checks that it finds MPEG
// audio it can give as 44.1 kHz stereo 16-bit (resampling other rates);
// called by OpenMusicStream and DecodeMusicFile.
static bool StartDecoder(MusicStream* stream) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { mpg123_init(); });
    int error = MPG123_OK;
    mpg123_handle* decoder = mpg123_new(nullptr, &error);
    if (!decoder)
        return false;
    stream->decoder = decoder;
    if (mpg123_param(decoder, MPG123_ADD_FLAGS, MPG123_QUIET, 0) != MPG123_OK ||
        mpg123_format_none(decoder) != MPG123_OK ||
        mpg123_format(decoder, kSampleRate, MPG123_STEREO, MPG123_ENC_SIGNED_16) != MPG123_OK ||
        mpg123_replace_reader_handle(decoder, ReadStreamBytes, SeekStreamBytes, nullptr) !=
            MPG123_OK ||
        !OpenDecoder(stream, false))
        return false;
    // Gapless trimming cuts the encoder's delay and padding using the frame
    // count the file's info header claims, and when resampling it works
    // through that count a frame at a time: a header claiming billions of
    // frames holds the open for minutes. So the music is trimmed only when
    // the claim fits the file, each frame taking at least its 4-byte
    // header, and plays untrimmed otherwise.
    const off_t claimedFrames = mpg123_framelength(decoder);
    if (claimedFrames < 0 || size_t(claimedFrames) > stream->file.size() / 4)
        return true;
    mpg123_close(decoder);
    return OpenDecoder(stream, true);
}

// Decodes into the ring when a chunk of it is free; kDone once the file has
// ended. One step of the stream's decoder worker.
static WorkStep DecodeAhead(void* data) {
    MusicStream* stream = static_cast<MusicStream*>(data);
    uint64_t written = stream->ringWritten.load(std::memory_order_relaxed);
    const uint64_t read = stream->ringRead.load(std::memory_order_acquire);
    const uint64_t free = kRingFrames - (written - read);
    if (free < kDecodeChunkFrames)
        return WorkStep::kIdle;
    const uint64_t at = written % kRingFrames;
    const uint64_t room = std::min<uint64_t>(free, kRingFrames - at);
    size_t bytes = 0;
    const int result =
        mpg123_read(stream->decoder, stream->ring + at * kChannels, room * kFrameBytes, &bytes);
    written += bytes / kFrameBytes;
    stream->ringWritten.store(written, std::memory_order_release);
    if (result == MPG123_OK || result == MPG123_NEW_FORMAT)
        return WorkStep::kWorked;
    // MPG123_DONE at the end, or an error that ends the music early.
    stream->decodedAll.store(true, std::memory_order_release);
    return WorkStep::kDone;
}

// Frees a stream whose decoder worker is not running; called by
// OpenMusicStream and CloseMusicStream.
static void FreeStream(MusicStream* stream) {
    if (stream->decoder)
        mpg123_delete(stream->decoder);
    delete stream;
}

// Opens a stream on an MP3 file: reads its bytes, checks the first frames and
// starts decoding ahead; 0 when there is nothing to play. Called by RunDemo.
uint32_t OpenMusicStream(const char* path) {
    if (!path)
        return 0;
    int slot = 0;
    while (slot < kMaxStreams && g_streams[slot].load(std::memory_order_relaxed))
        ++slot;
    if (slot == kMaxStreams)
        return 0;
    MusicStream* stream = new MusicStream();
    if (!ReadMusicFile(path, stream->file) || !StartDecoder(stream)) {
        FreeStream(stream);
        return 0;
    }
    PrepareSpectrum();
    stream->decoderWorker = StartWorker(DecodeAhead, stream);
    g_streams[slot].store(stream, std::memory_order_release);
    return uint32_t(slot + 1);
}

// Decodes a whole file in memory; called by offline rendering and the
// stream's fuzz target.
bool DecodeMusicFile(const uint8_t* bytes, size_t size, std::vector<int16_t>* samples) {
    samples->clear();
    if (!bytes || size == 0 || size > size_t(kMaxFileBytes))
        return false;
    MusicStream* stream = new MusicStream();
    stream->file.assign(bytes, bytes + size);
    bool playable = StartDecoder(stream);
    int result = MPG123_OK;
    while (playable && (result == MPG123_OK || result == MPG123_NEW_FORMAT) &&
           samples->size() < kMaxDecodedFrames * kChannels) {
        // The ring serves as the decode buffer: this stream never plays.
        size_t got = 0;
        result = mpg123_read(stream->decoder, stream->ring, sizeof stream->ring, &got);
        samples->insert(samples->end(), stream->ring, stream->ring + got / sizeof(int16_t));
    }
    samples->resize(std::min(samples->size(), kMaxDecodedFrames * kChannels));
    FreeStream(stream);
    return playable;
}

// The stream behind a handle, or null; called by the play and spectrum calls.
MusicStream* FindMusicStream(uint32_t stream) {
    if (stream < 1 || stream > uint32_t(kMaxStreams))
        return nullptr;
    return g_streams[stream - 1].load(std::memory_order_acquire);
}

// Takes the stream from the callback's sight, stops its decoder and frees
// it; called by tests and benchmarks.
void CloseMusicStream(uint32_t handle) {
    MusicStream* stream = FindMusicStream(handle);
    if (!stream)
        return;
    HoldDeviceCallback();
    g_streams[handle - 1].store(nullptr, std::memory_order_release);
    ReleaseDeviceCallback();
    StopWorker(stream->decoderWorker);
    FreeStream(stream);
}
