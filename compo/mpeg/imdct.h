// Layer III hybrid filter: inverse MDCT per subband (one 36-point transform
// for long blocks, three 12-point transforms for short blocks), windowing
// and overlap-add with the previous granule, and frequency inversion.
#pragma once

namespace morvik::mpeg {

// In place: 18 spectral lines -> the 18-point DCT-IV y whose mirrored,
// negated copies make the 36 IMDCT outputs (the signs live in the windows).
void Imdct36Ref(float* values);
// In place: three interleaved windows x[3 i + w] -> their 6-point DCT-IV
// outputs at 6 w .. 6 w + 5.
void Imdct12x3Ref(float* values);

// Added to the block type handed to the hybrid filter when the granule has
// the mixed-block flag.
constexpr int kMixedBlockBit = 4;

// Returns the lines covered (a multiple of 18). See DecoderDispatch.
int HybridFilterRef(float* current, const float* previous, float* block, int blockType, int longLines,
                    int allLines, int overlapLines, int subbands);
// As HybridFilterRef for the second channel of a mono mix: adds its samples
// into block and its overlap into `overlapStore` instead of writing them.
int HybridFilterAdd(float* current, float* overlapStore, float* block, int blockType, int longLines,
                    int allLines, int subbands);

void InvertOddSubbands(float* block, int linesCovered);

// Block windows with the transform's output signs folded in, [type][36].
const float (&blockWindows())[4][36];

} // namespace morvik::mpeg
