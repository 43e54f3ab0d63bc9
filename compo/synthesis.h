// Polyphase synthesis: a 32-point DCT of each time step of 32 subband
// samples into a ring of past DCT outputs, then windowing to 16-bit PCM.
#pragma once

#include <cstdint>

namespace morvik::mpeg {

// The standard's synthesis window D[0..511] in units of 2^-16.
extern const std::int32_t kSynthesisWindowD[512];

constexpr int kRingSize = 512;
// Compact window: rows 0..15 with 16 taps (D[j + 32 k], k = 0..15), then
// the 8 taps of sample 16. Samples 17..31 use rows 15..1.
constexpr int kWindowSize = 264;

struct SynthesisState {
    float ring[2][kRingSize] = {};
    int offset[2] = {0, 0};
    float window[kWindowSize] = {};
    bool inverted = false;
    bool equalizerOn = false;
    float equalizer[32] = {};
};

// Builds the window (with the current polarity) and clears the rings.
void SynthesisInit(SynthesisState& s);
void SynthesisReset(SynthesisState& s);
void SetInvertPolarity(SynthesisState& s, bool on);

// X[k] = sum x[n] cos(pi (2n + 1) k / 64), written to out[0..31].
void Dct32(const float* in, float* out);
void Dct32Stride2(const float* in, float* out);

// Reference windowing: extended-precision sums, round half to even, clip.
void WindowToPcmMonoRef(const float* window, const float* ring, int offset, std::int16_t* out);
void WindowToPcmStereoRef(const float* window, const float* ring, int offset, std::int16_t* out);

// Layer III: synthesises 18 time steps of block[t * 32 + s] of one channel
// into out, advancing `step` samples per output sample.
void SynthesiseGranule(SynthesisState& s, int channel, const float* block, std::int16_t* out, bool stereo);

} // namespace morvik::mpeg
