// Small MP3 files for the audio tests and benchmark.
#include "mp3_files.h"

#include <lame/lame.h>
#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>

bool EncodeMp3(const std::vector<int16_t>& samples, int rate, int channels, const std::string& path,
               int kbps) {
    const int frames = int(samples.size()) / channels;
    std::vector<short> left, right;
    for (int n = 0; n < frames; ++n) {
        left.push_back(samples[size_t(n * channels)]);
        right.push_back(samples[size_t(n * channels + channels - 1)]);
    }
    lame_global_flags* lame = lame_init();
    lame_set_in_samplerate(lame, rate);
    lame_set_num_channels(lame, channels);
    lame_set_mode(lame, channels == 1 ? MONO : JOINT_STEREO);
    lame_set_brate(lame, kbps != 0 ? kbps : rate < 32000 ? 160 : 320);
    // LAME's own bound on what a buffer of samples and the flush can make.
    std::vector<uint8_t> mp3(size_t(frames) * 5 / 4 + 2 * 7200);
    int made = -1, flushed = -1;
    if (lame_init_params(lame) == 0)
        made = lame_encode_buffer(lame, left.data(), right.data(), frames, mp3.data(),
                                  int(mp3.size()));
    if (made >= 0)
        flushed = lame_encode_flush(lame, mp3.data() + made, int(mp3.size()) - made);
    mp3.resize(size_t(std::max(0, made + flushed)));
    // The info header (frame count, encoder delay and padding) goes over the
    // first frame, where the encoder left room for it, as the lame tool does.
    const bool tagged = lame_get_lametag_frame(lame, mp3.data(), mp3.size()) > 0;
    lame_close(lame);
    return made >= 0 && flushed >= 0 && tagged && WriteFileBytes(path, mp3);
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
