// Polyphase synthesis: a 32-point DCT of each time step of 32 subband
// samples into a ring of past DCT outputs, then windowing to 16-bit PCM.
#pragma once

#include <cstdint>

namespace morvik::mpeg {

// The standard's synthesis window D[0..511] in units of 2^-16.
extern const std::int32_t kSynthesisWindowD[512];

constexpr int kRingSize = 512;
// The window in the order the taps are formed, as doubles (exact: the
// coefficients have at most 17 significant bits). With a ring block a (0 the
// newest), for i = 0..7 (even block 2 i, odd block 2 i + 1) come 16
// coefficients of each of four sets:
//   set 0, even block value j: sample j, D[j + 64 i];
//   set 1, odd block value u: sample 16 for u = 0 (D[48 + 64 i], negated),
//          else sample j = 16 - u, D[j + 64 i + 32];
//   set 2, even block value j: sample 32 - j, D[j + 32 (15 - 2 i)] (0 at j = 0);
//   set 3, odd block value u: sample 32 - j for j = 16 - u,
//          D[j + 32 (14 - 2 i)] (0 at u = 0);
// and last the 8 coefficients of sample 0 on odd block value 16, D[64 i + 32].
constexpr int kWindowSetSize = 8 * 16;
constexpr int kWindowSampleZero = 4 * kWindowSetSize;
constexpr int kWindowSize = kWindowSampleZero + 8;

struct SynthesisWindow {
    alignas(32) double taps[kWindowSize] = {};
    // The same coefficients in single precision, for the variants that sum
    // in single precision.
    alignas(32) float single[kWindowSize] = {};
    // The largest sum of coefficient magnitudes of any output sample: a sum
    // of taps over ring values no larger than M in magnitude is at most
    // M times this.
    double magnitudeBound = 0.0;
};

// One channel's ring of DCT outputs, kept twice: as the floats the DCT
// gives, and widened to double (exactly) for the reference windowing, which
// sums in double precision; with the largest magnitude of each 32-value
// block, which bounds the rounding of those sums.
struct SynthesisRing {
    alignas(32) float values[kRingSize] = {};
    alignas(32) double wide[kRingSize] = {};
    alignas(16) float blockMagnitude[kRingSize / 32] = {};
    // The largest of the blocks' magnitudes, kept by StoreRingBlock: the
    // windowing reads this one value, just written, and not the sixteen
    // (whose wide reads could not be served from the pending store of the
    // newest block's).
    float largest = 0;
};

// Stores 32 DCT outputs as the ring block at `offset` (a multiple of 32),
// with its magnitude and the ring's largest.
void StoreRingBlock(SynthesisRing& ring, int offset, const float* block);

struct SynthesisState {
    SynthesisRing ring[2];
    int offset[2] = {0, 0};
    SynthesisWindow window;
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
// Four transforms at once: in[n][k] is value n of transform k.
void Dct32x4(const float (&in)[32][4], float (&out)[32][4]);
// The transform's coefficients 0.5 / cos(pi (2j + 1) / (4m)) for m = 16, 8,
// 4, 2, 1, one after another, each eight times over for lanes of transforms.
struct DctCoefficients {
    alignas(32) float lanes[31][8];
};
const DctCoefficients& dctCoefficients();

// Reference windowing: extended-precision sums, round half to even, clip.
// These sum in double precision and take the extended sum only for a sample
// that the double sum cannot decide; the Plain kernels always sum in
// extended precision. Both give the same samples, bit for bit. The double
// sums run in four lanes with AVX2 and FMA where the processor has them
// (the Pentium-class CMOV windowing, the same samples), else in the
// baseline instruction set (the Baseline kernels).
void WindowToPcmMonoRef(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out);
void WindowToPcmStereoRef(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out);
void WindowToPcmMonoBaseline(const SynthesisWindow& window, const SynthesisRing& ring, int offset,
                             std::int16_t* out);
void WindowToPcmStereoBaseline(const SynthesisWindow& window, const SynthesisRing& ring, int offset,
                               std::int16_t* out);
void WindowToPcmMonoPlain(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out);
void WindowToPcmStereoPlain(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out);

// Layer III: synthesises 18 time steps of block[t * 32 + s] of one channel
// into out, advancing `step` samples per output sample.
void SynthesiseGranule(SynthesisState& s, int channel, const float* block, std::int16_t* out, bool stereo);
// Synthesises `steps` time steps of one channel, subband sample n of step t
// at in[t * stepStride + n * lineStride], into out (interleaved with the
// other channel when `stereo`); `equalizer` (32 gains) may be null.
void SynthesiseSteps(SynthesisState& s, int channel, const float* in, int stepStride, int lineStride, int steps,
                     const float* equalizer, std::int16_t* out, bool stereo);
// SynthesiseSteps with the transforms four steps at a time in the baseline
// instruction set. Where the processor has AVX2, SynthesiseSteps runs them
// eight at a time; both leave the same ring and write the same samples, bit
// for bit.
void SynthesiseStepsBaseline(SynthesisState& s, int channel, const float* in, int stepStride, int lineStride,
                             int steps, const float* equalizer, std::int16_t* out, bool stereo);

} // namespace morvik::mpeg
