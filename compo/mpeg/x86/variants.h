// The x86 variant families of the decoder's inner operations, one file
// each, each built with its own instruction-set flags. The dispatch table
// reaches them only through these sets, and only on a processor that runs
// their instructions (hostInstructionSets).
#pragma once

#include "compo/mpeg/dispatch.h"

namespace morvik::mpeg::x86 {

// SSE2 (every x86-64 processor): the windowing in double precision with the
// reference's samples, clipping by branches; the hybrid filter and both
// transforms.
DecoderDispatch pentiumVariants();
// AVX2 and FMA: the windowing in four double lanes, the reference's samples,
// clipping without branches.
DecoderDispatch pentiumCmovVariants();
// Single precision in SSE2: the antialias butterflies two at a time, and
// windowing with single-precision sums rounded halves away from zero.
DecoderDispatch amd3DNowVariants();
// AVX2 and FMA: all six operations, the windowing as the 3DNow! one.
DecoderDispatch amdE3DNowVariants();

} // namespace morvik::mpeg::x86
