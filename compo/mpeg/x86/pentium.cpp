// Pentium-class variants: the reference's products and sums in another
// order. Built with the baseline flags (SSE2, which every x86-64 processor
// has). The windowing sums in double precision, two lanes per instruction,
// and where those sums cannot decide a sample it takes the plain
// extended-precision kernel (windowkernels.h proves the rule): its samples
// are the reference's, so a processor of this class plays exactly what the
// reference plays. The transforms and the hybrid filter are the reference's
// single-precision code, built here apart.
#include "compo/mpeg/x86/variants.h"

#include "compo/mpeg/imdctkernels.h"
#include "compo/mpeg/windowkernels.h"


namespace morvik::mpeg::x86 {

namespace {

// Rounded half to even as the reference rounds, clipped by compare and
// branch.
void windowMono(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out)
{
    windowExactly<false>(window, ring, offset, out, 1);
}

void windowStereo(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out)
{
    windowExactly<false>(window, ring, offset, out, 2);
}

} // namespace

DecoderDispatch pentiumVariants()
{
    return {nullptr, windowMono, windowStereo, hybridFilterHere, imdct36, imdct12x3};
}

} // namespace morvik::mpeg::x86
