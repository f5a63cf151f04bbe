// Music and checks shared by the audio tests (audio_test.cpp, which defines
// them) and the demo binary's music tests (audio_demo_test.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Music that is never periodic: two tones and a little noise, from sample 0.
std::vector<int16_t> TestMusic(double seconds);

// The index of the first non-zero sample from `from` on, or the size.
size_t FirstSound(const std::vector<int16_t>& samples, size_t from = 0);

// Checks a recording: silence, then `decoded` whole and in order, sample for
// sample, then at least `tailFrames` of silence (nothing restarted).
void ExpectPlayedOnce(const std::vector<int16_t>& recorded, const std::vector<int16_t>& decoded,
                      size_t tailFrames);
