// The Pentium-class CMOV windowing in eight double lanes, built for AVX-512
// (chosen only where the processor and the operating system support it, in
// place of the four-lane form): the same double sums, the same decided
// samples, the reference's samples (windowkernels.h).
#include "compo/mpeg/x86/variants.h"

#include "compo/mpeg/windowkernels.h"

namespace morvik::mpeg::x86 {

namespace {

void windowMono(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out)
{
    windowExactly<true>(window, ring, offset, out, 1);
}

void windowStereo(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out)
{
    windowExactly<true>(window, ring, offset, out, 2);
}

} // namespace

DecoderDispatch pentiumCmovWideVariants()
{
    return {nullptr, windowMono, windowStereo, nullptr, nullptr, nullptr};
}

} // namespace morvik::mpeg::x86
