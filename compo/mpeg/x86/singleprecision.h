// The single-precision variants' shared routines (3DNow! and extended
// 3DNow! families), with internal linkage so that each family's file builds
// its own copy with its own instruction-set flags.
#pragma once

#include "compo/mpeg/stereo.h"
#include "compo/mpeg/windowkernels.h"


namespace morvik::mpeg::x86 {
namespace {

// Windowing: each sample's even-block and odd-block taps summed in single
// precision, the odd sum subtracted (samples 0..15) or added (17..31) at
// the end, rounded halves away from zero and saturated.
template <int Lanes>
inline void windowSinglePrecision(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out,
                                  int step)
{
    WindowPartials<float> partials;
    windowPartials<float, Lanes>(window.single, ring.values, offset, partials);
    float sums[32];
    windowSums(partials, sums);
    std::int16_t pcm[32];
    for (int j = 0; j < 32; ++j)
        pcm[j] = roundHalfAway(sums[j]);
    for (int j = 0; j < 32; ++j)
        out[j * step] = pcm[j];
}

// The butterflies of one boundary, `Lanes` at a time with the lower side
// read in reverse; the scalar loop finishes any butterflies left over.
template <int Lanes>
inline void antialiasBoundaries(float* x, int boundaries)
{
    const AntialiasCoefficients& c = antialiasCoefficients();
    for (int b = 0; b < boundaries; ++b) {
        float* lo = x + 18 * b + 17;
        float* hi = x + 18 * (b + 1);
        int i = 0;
        for (; i + Lanes <= 8; i += Lanes) {
            float l[Lanes], h[Lanes];
            for (int k = 0; k < Lanes; ++k) {
                l[k] = lo[-(i + k)];
                h[k] = hi[i + k];
            }
            for (int k = 0; k < Lanes; ++k) {
                lo[-(i + k)] = l[k] * c.cs[i + k] - h[k] * c.ca[i + k];
                hi[i + k] = h[k] * c.cs[i + k] + l[k] * c.ca[i + k];
            }
        }
        for (; i < 8; ++i) {
            const float l = lo[-i];
            const float h = hi[i];
            lo[-i] = l * c.cs[i] - h * c.ca[i];
            hi[i] = h * c.cs[i] + l * c.ca[i];
        }
    }
}

} // namespace
} // namespace morvik::mpeg::x86
