// The six inner operations of the decoder that exist in several variants,
// called through one table, and the selectors that fill it from the
// processor's feature word.
#pragma once

#include <cstdint>

namespace morvik::mpeg {

struct SynthesisRing;
struct SynthesisWindow;

using AntialiasFn = void (*)(float* spectrum, int boundaries);
using WindowToPcmFn = void (*)(const SynthesisWindow& window, const SynthesisRing& ring, int offset,
                               std::int16_t* out);
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

// The families of variants. A family fills only the operations it has.
enum class VariantFamily : std::uint8_t { Reference, Pentium, PentiumCmov, Amd3DNow, AmdE3DNow };
constexpr int kVariantFamilies = 5;

struct VariantSet {
    VariantFamily family;
    const char* name;
    DecoderDispatch routines;  // null where the family has no variant of an operation
    bool runnable;  // this processor has the instructions the family is built with
};

// Every family this build holds, the reference first.
const VariantSet* variantSets(int& count);
const VariantSet& variantSet(VariantFamily family);

// The table the decoder calls through.
const DecoderDispatch& decoderDispatch();
// Every operation in its plain scalar form.
DecoderDispatch referenceDispatch();
// Every pointer to the reference variant (`--cpu reference`).
void SelectReferenceVariants();
// Installs any table, such as one with the plain extended-precision
// windowing kernels that the tests compare the reference with.
void InstallDecoderDispatch(const DecoderDispatch& table);

// The six selectors, each taking the first rule of its operation that the
// word matches and whose variant can run here.
void SelectAntialias(std::uint32_t features);
void SelectWindowToPcmMono(std::uint32_t features);
void SelectWindowToPcmStereo(std::uint32_t features);
void SelectHybridFilter(std::uint32_t features);
void SelectImdct36(std::uint32_t features);
void SelectImdct12x3(std::uint32_t features);
// Clears E3DNow without 3DNow, then runs the six selectors in that order.
void SelectDecoderVariants(std::uint32_t features);

} // namespace morvik::mpeg
