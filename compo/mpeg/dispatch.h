// The six inner operations of the decoder that exist in several variants,
// called through one table. This file fills it with the reference variants.
#pragma once

#include <cstdint>

namespace morvik::mpeg {

using AntialiasFn = void (*)(float* spectrum, int boundaries);
using WindowToPcmFn = void (*)(const double* window, const float* ring, int offset, std::int16_t* out);
// (current slot, previous slot = overlap, subband-sample block, block type
//  (plus kMixedBlockBit for the mixed-block flag),
//  long lines, all lines, overlap lines, synthesised subbands) -> lines covered
using HybridFilterFn = int (*)(float* current, const float* previous, float* block, int blockType, int longLines,
                               int allLines, int overlapLines, int subbands);
using Imdct36Fn = void (*)(float* values);
using Imdct12x3Fn = void (*)(float* values);

struct DecoderDispatch {
    AntialiasFn Antialias;
    WindowToPcmFn WindowToPcmMono;
    WindowToPcmFn WindowToPcmStereo;
    HybridFilterFn HybridFilter;
    Imdct36Fn Imdct36;
    Imdct12x3Fn Imdct12x3;
};

// The table the decoder calls through.
const DecoderDispatch& decoderDispatch();
// Every operation in its plain scalar form.
DecoderDispatch referenceDispatch();
// Fills the table with the reference variants (the only ones so far).
void SelectReferenceVariants();

} // namespace morvik::mpeg
