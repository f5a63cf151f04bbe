// Small MP3 files for the audio tests and benchmark: PCM made here, encoded
// with LAME's library as its command-line encoder would, and libmpg123's
// own decode of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files.h"

// Encodes interleaved 16-bit samples to an MP3 file at the given input rate
// and channel count (320 kbit/s, or 160 at rates under 32 kHz), with the
// encoder's info header; false when LAME fails.
bool EncodeMp3(const std::vector<int16_t>& samples, int rate, int channels, const std::string& path,
               int kbps = 0);

// A straight libmpg123 decode of the whole file as 44.1 kHz stereo 16-bit
// samples, interleaved, trimmed of the encoder's delay and padding unless
// `gapless` is false; empty when it cannot be decoded.
std::vector<int16_t> DecodeMp3(const std::string& path, bool gapless = true);

// The 16-bit samples of a raw file (a disk-driver recording).
std::vector<int16_t> ReadRawSamples(const std::string& path);

// A sine of `frequency` Hz and `amplitude` (of full scale) as 16-bit
// samples, the same in each channel.
std::vector<int16_t> SineSamples(double frequency, double amplitude, double seconds, int rate,
                                 int channels);
