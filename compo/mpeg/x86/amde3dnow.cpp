// Extended 3DNow! variants, built for AVX2 and FMA (chosen only where the
// processor has both): eight single-precision lanes, products fused with
// their sums. The windowing and the antialias compute what the 3DNow!
// variants compute; the transforms and the hybrid filter are the
// reference's, whose lanes of four subbands become fused vector operations.
#include "compo/mpeg/x86/variants.h"

#include "compo/mpeg/imdctkernels.h"
#include "compo/mpeg/x86/singleprecision.h"

namespace morvik::mpeg::x86 {

namespace {

void antialias(float* spectrum, int boundaries)
{
    antialiasBoundaries<8>(spectrum, boundaries);
}

void windowMono(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out)
{
    windowSinglePrecision<8>(window, ring, offset, out, 1);
}

void windowStereo(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out)
{
    windowSinglePrecision<8>(window, ring, offset, out, 2);
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

DecoderDispatch amdE3DNowVariants()
{
    return {antialias, windowMono, windowStereo, hybrid, transform36, transform12x3};
}

} // namespace morvik::mpeg::x86
