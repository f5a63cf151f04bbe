// The music for offline rendering: the whole file decoded in memory and a
// heard position that the caller sets, so that the spectrum follows a
// virtual clock instead of a device.
#include "audio/audio.h"
#include "audio/playback.h"

OfflineMusic g_offlineMusic;

// Decodes the file and makes it the offline music, heard from before its
// first frame; called by offline rendering.
uint32_t OpenOfflineMusic(const char* path) {
    g_offlineMusic = OfflineMusic();
    std::vector<uint8_t> bytes;
    std::vector<int16_t> samples;
    if (!path || !ReadMusicFile(path, bytes) ||
        !DecodeMusicFile(bytes.data(), bytes.size(), &samples))
        return 0;
    PrepareSpectrum();
    g_offlineMusic.samples = std::move(samples);
    g_offlineMusic.audibleFrame = -1;
    return kOfflineMusicHandle;
}

// Moves the offline music's heard position; called by offline rendering.
void SetOfflineMusicFrame(uint32_t stream, int64_t frame) {
    if (stream == kOfflineMusicHandle)
        g_offlineMusic.audibleFrame = frame;
}

// The offline music's frames; called by offline rendering.
const std::vector<int16_t>* OfflineMusicSamples(uint32_t stream) {
    if (stream != kOfflineMusicHandle || g_offlineMusic.samples.empty())
        return nullptr;
    return &g_offlineMusic.samples;
}
