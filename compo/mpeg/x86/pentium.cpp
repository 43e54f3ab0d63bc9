// Pentium-class variants: the reference's products and sums in another
// order. Built with the baseline flags (SSE2, which every x86-64 processor
// has): the windowing sums in double precision, two lanes per instruction,
// and rounds once, so a sample may differ from the reference's
// extended-precision result by one step where the sum lies within rounding
// noise of a half.
#include "compo/mpeg/x86/variants.h"

#include "compo/mpeg/imdctkernels.h"
#include "compo/mpeg/windowkernels.h"

#include <algorithm>
#include <cmath>

namespace morvik::mpeg::x86 {

namespace {

// Sums rounded half to even (the processor's default mode; lrint is one
// instruction as this file is built without errno). A NaN or a sum out of
// range rounds to the "integer indefinite" value and gives -32768, as in
// the reference.
template <bool branchless>
void windowToPcm(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out, int step)
{
    WindowPartials<double> partials;
    windowPartialsDouble(window.taps, ring, offset, partials);
    double sums[32];
    windowSums(partials, sums);
    long rounded[32];
    for (int j = 0; j < 32; ++j)
        rounded[j] = std::lrint(sums[j]);
    for (int j = 0; j < 32; ++j) {
        if constexpr (branchless)
            out[j * step] = static_cast<std::int16_t>(std::clamp(rounded[j], -32768L, 32767L));
        else
            out[j * step] = clip16(rounded[j]);
    }
}

void windowMono(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out)
{
    windowToPcm<false>(window, ring, offset, out, 1);
}

void windowStereo(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out)
{
    windowToPcm<false>(window, ring, offset, out, 2);
}

void windowMonoCmov(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out)
{
    windowToPcm<true>(window, ring, offset, out, 1);
}

void windowStereoCmov(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out)
{
    windowToPcm<true>(window, ring, offset, out, 2);
}

void transform36(float* values)
{
    imdct36(values);
}

void transform12x3(float* values)
{
    imdct12x3(values);
}

int hybrid(float* current, const float* previous, float* block, int blockType, int longLines, int allLines,
           int overlapLines, int subbands)
{
    return hybridFilter(current, previous, block, blockType, longLines, allLines, overlapLines, subbands,
                        transform12x3);
}

} // namespace

DecoderDispatch pentiumVariants()
{
    return {nullptr, windowMono, windowStereo, hybrid, transform36, transform12x3};
}

DecoderDispatch pentiumCmovVariants()
{
    return {nullptr, windowMonoCmov, windowStereoCmov, nullptr, nullptr, nullptr};
}

} // namespace morvik::mpeg::x86
