// 3DNow! variants: single-precision pairs. Built with the baseline flags
// (SSE2), so they run on every x86-64 processor: the antialias takes two
// butterflies per step, the windowing sums in single precision and rounds
// halves away from zero.
#include "compo/mpeg/x86/variants.h"

#include "compo/mpeg/x86/singleprecision.h"

namespace morvik::mpeg::x86 {

namespace {

void antialias(float* spectrum, int boundaries)
{
    antialiasBoundaries<2>(spectrum, boundaries);
}

void windowMono(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out)
{
    windowSinglePrecision<4>(window, ring, offset, out, 1);
}

void windowStereo(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out)
{
    windowSinglePrecision<4>(window, ring, offset, out, 2);
}

} // namespace

DecoderDispatch amd3DNowVariants()
{
    return {antialias, windowMono, windowStereo, nullptr, nullptr, nullptr};
}

} // namespace morvik::mpeg::x86
