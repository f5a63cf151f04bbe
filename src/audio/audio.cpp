// The music. The audio layer is not built yet: the demo runs silent.
#include "audio/audio.h"

uint32_t g_musicStream;
float g_spectrum[kSpectrumSize];

// No device yet; called by RunDemo.
bool OpenAudioDevice() {
    return false;
}

// No streams yet; called by RunDemo.
uint32_t OpenMusicStream(const char* path) {
    (void)path;
    return 0;
}

// Nothing to play yet; called by TickDemo.
bool PlayMusicStream(uint32_t stream) {
    (void)stream;
    return false;
}

// Nothing plays, so the buffer stays as it was; called by TickDemo.
bool ReadMusicSpectrum(uint32_t stream, float* spectrum) {
    (void)stream;
    (void)spectrum;
    return false;
}
