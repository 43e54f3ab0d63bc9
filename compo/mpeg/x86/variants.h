// The x86 variant families of the decoder's inner operations, one file
// each, each built with its own instruction-set flags. The dispatch table
// reaches them only through these sets, and only on a processor that runs
// their instructions (hostInstructionSets).
#pragma once

#include "compo/mpeg/dispatch.h"

#include <cstdint>

namespace morvik::mpeg {
struct SynthesisState;
}

namespace morvik::mpeg::x86 {

// SSE2 (every x86-64 processor): the windowing in double precision with the
// reference's samples, clipping by branches; the hybrid filter and both
// transforms.
DecoderDispatch pentiumVariants();
// AVX2 and FMA: the windowing in double lanes, the reference's samples,
// clipping without branches; eight lanes where AVX-512 is usable too (and
// runs at full clock), else four. Called only on a processor with AVX2 and
// FMA.
DecoderDispatch pentiumCmovVariants();
DecoderDispatch pentiumCmovFourLaneVariants();
// AVX-512 and FMA: the same windowing in eight double lanes.
DecoderDispatch pentiumCmovWideVariants();
// Single precision in SSE2: the antialias butterflies two at a time, and
// windowing with single-precision sums rounded halves away from zero.
DecoderDispatch amd3DNowVariants();
// AVX2 and FMA: all six operations, the windowing as the 3DNow! one.
DecoderDispatch amdE3DNowVariants();

// AVX2 without FMA: SynthesiseSteps with the transforms eight steps at a
// time; the same ring and samples as SynthesiseStepsBaseline, bit for bit.
void synthesiseStepsEightLanes(SynthesisState& s, int channel, const float* in, int stepStride, int lineStride,
                               int steps, const float* equalizer, std::int16_t* out, bool stereo);

} // namespace morvik::mpeg::x86
