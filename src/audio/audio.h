// The music: an output device, one MP3 stream, play requests and the
// spectrum of what is audible now.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr const char* kMusicPath = "data/sound/dovevivaz.mp3";
constexpr int kSpectrumSize = 512;

extern uint32_t g_musicStream;          // the music's stream handle; 0 when it could not be opened
extern float g_spectrum[kSpectrumSize]; // the latest snapshot, lowest band at index 0

// Opens the output device at 44.1 kHz stereo; false when there is none.
// Called by RunDemo.
bool OpenAudioDevice();

// Opens a stream on an MP3 file without decoding it; 0 when the file cannot
// be played. Called by RunDemo.
uint32_t OpenMusicStream(const char* path);

// Starts the stream from its beginning on the first request; later requests
// change nothing. Called by TickDemo.
bool PlayMusicStream(uint32_t stream);

// Writes the spectrum of what is audible now into spectrum[0..255]; false,
// with the buffer untouched, when nothing plays. Called by TickDemo.
bool ReadMusicSpectrum(uint32_t stream, float* spectrum);

// Opens the music for offline rendering: the whole file decoded in memory,
// heard at the frame SetOfflineMusicFrame gives instead of where a device
// plays it. ReadMusicSpectrum takes its snapshot there and PlayMusicStream
// leaves it alone; it needs no device. One at a time: opening again
// replaces it. 0 when the file cannot be played. Called by offline
// rendering.
uint32_t OpenOfflineMusic(const char* path);

// Sets the frame of the offline music heard now: negative before its first
// frame. Called by offline rendering before each tick.
void SetOfflineMusicFrame(uint32_t stream, int64_t frame);

// The offline music's decoded frames, 44.1 kHz stereo interleaved; null
// for any other handle. Called by offline rendering to write the sound.
const std::vector<int16_t>* OfflineMusicSamples(uint32_t stream);

// Decodes a whole MP3 file held in memory as the streams play it: 44.1 kHz
// stereo 16-bit frames, interleaved, at most ten minutes of them; false when
// the bytes hold no playable MPEG audio. Called by offline rendering and the
// stream's fuzz target.
bool DecodeMusicFile(const uint8_t* bytes, size_t size, std::vector<int16_t>* samples);
