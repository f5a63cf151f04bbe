// The output device: SDL's audio at 44.1 kHz, stereo, 16-bit, with a
// callback that mixes the playing streams. The only file here that uses SDL.
#include "audio/audio.h"
#include "audio/playback.h"
#include "platform/loop.h"

#include <SDL.h>

uint32_t g_audioDevice;
int g_deviceBufferFrames = kDeviceFrames;
std::atomic<int64_t> g_callbackNanos;
std::atomic<int64_t> g_callbackRuns;

// Fills the device buffer SDL asks for and counts the time it took; in a
// hidden page, where the audio is what still comes often, a turn of the
// loop runs first. Called by SDL's audio thread (the page's one thread in
// the browser).
static void FillDeviceBuffer(void*, Uint8* bytes, int length) {
    TurnLoopWhileHidden();
    const int64_t start = ReadClockNanos();
    const int frames = length / int(kChannels * sizeof(int16_t));
    MixPlayingStreams(reinterpret_cast<int16_t*>(bytes), frames, start);
    g_callbackNanos.fetch_add(ReadClockNanos() - start, std::memory_order_relaxed);
    g_callbackRuns.fetch_add(1, std::memory_order_relaxed);
}

// Opens the device and starts its callback, which plays silence until a
// stream plays; called by RunDemo.
bool OpenAudioDevice() {
    if (g_audioDevice)
        return true;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        return false;
    SDL_AudioSpec wanted = {};
    wanted.freq = kSampleRate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = kChannels;
    wanted.samples = kDeviceFrames;
    wanted.callback = FillDeviceBuffer;
    SDL_AudioSpec granted = {};
    // No changes allowed: SDL converts if the hardware wants another format.
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &granted, 0);
    if (device == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    g_deviceBufferFrames = granted.samples;
    g_audioDevice = device;
    SDL_PauseAudioDevice(device, 0);
    return true;
}

// Waits for a running callback to finish and keeps the next one from
// starting; called by CloseMusicStream.
void HoldDeviceCallback() {
    if (g_audioDevice)
        SDL_LockAudioDevice(g_audioDevice);
}

// Lets the callback run again; called by CloseMusicStream.
void ReleaseDeviceCallback() {
    if (g_audioDevice)
        SDL_UnlockAudioDevice(g_audioDevice);
}
