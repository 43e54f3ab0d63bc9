// Pentium class with CMOV: the Pentium-class windowing, clipping without
// branches, built for AVX2 and FMA (chosen only where the processor has both;
// elsewhere its selector falls back to the Pentium-class windowing, whose
// samples are the same). The double sums run in four lanes with fused
// multiply-adds; the samples are the reference's (windowkernels.h).
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

DecoderDispatch pentiumCmovFourLaneVariants()
{
    return {nullptr, windowMono, windowStereo, nullptr, nullptr, nullptr};
}

// The eight-lane form where AVX-512 is usable (libgcc's check includes the
// operating system's saving of the wide registers) on a processor that runs
// 512-bit operations without lowering its clock: VBMI2 came with the first
// of those. On earlier ones the slower clock of the whole core would cost
// more than the windowing gains.
DecoderDispatch pentiumCmovVariants()
{
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vbmi2"))
        return pentiumCmovWideVariants();
    return pentiumCmovFourLaneVariants();
}

} // namespace morvik::mpeg::x86
