// Small MP3 files for the audio tests and benchmark.
#include "mp3_files.h"

#include "capture/video_file.h"

#include <mpg123.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

bool EncodeMp3(const std::vector<int16_t>& samples, int rate, int channels, const std::string& path,
               int kbps) {
    const std::string wav = path + ".wav";
    if (kbps == 0)
        kbps = rate < 32000 ? 160 : 320;
    char command[1024];
    std::snprintf(command, sizeof command, "lame --quiet -m %s -b %d '%s' '%s'",
                  channels == 1 ? "m" : "j", kbps, wav.c_str(), path.c_str());
    const bool encoded = WriteWavFile(wav, samples, rate, channels) && std::system(command) == 0;
    std::remove(wav.c_str());
    return encoded;
}

std::vector<int16_t> DecodeMp3(const std::string& path, bool gapless) {
    std::vector<int16_t> samples;
    mpg123_init();
    mpg123_handle* decoder = mpg123_new(nullptr, nullptr);
    mpg123_param(decoder, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    if (!gapless)
        mpg123_param(decoder, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
    mpg123_format_none(decoder);
    mpg123_format(decoder, 44100, MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open(decoder, path.c_str()) == MPG123_OK) {
        int16_t block[8192];
        size_t bytes = 0;
        int result = MPG123_OK;
        while (result == MPG123_OK || result == MPG123_NEW_FORMAT) {
            result = mpg123_read(decoder, block, sizeof block, &bytes);
            samples.insert(samples.end(), block, block + bytes / sizeof(int16_t));
        }
    }
    mpg123_delete(decoder);
    return samples;
}

std::vector<int16_t> ReadRawSamples(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> samples(bytes.size() / sizeof(int16_t));
    std::copy(bytes.begin(), bytes.begin() + samples.size() * sizeof(int16_t),
              reinterpret_cast<char*>(samples.data()));
    return samples;
}

std::vector<int16_t> SineSamples(double frequency, double amplitude, double seconds, int rate,
                                 int channels) {
    const double pi = std::acos(-1.0);
    const size_t frames = size_t(seconds * rate);
    std::vector<int16_t> samples;
    samples.reserve(frames * channels);
    for (size_t n = 0; n < frames; ++n) {
        const auto value =
            int16_t(std::lround(32767 * amplitude * std::sin(2 * pi * frequency * n / rate)));
        samples.insert(samples.end(), size_t(channels), value);
    }
    return samples;
}
