// What the processor offers the decoder: the feature word, its cache, the
// mapping to and from the player's six-member capability set, and the
// instruction sets the fast variants themselves are built for.
#pragma once

#include <cstdint>

namespace morvik::mpeg {

enum CpuFeature : std::uint32_t {
    cfFPU = 0x1,
    cfMMX = 0x2,
    cf3DNow = 0x4,
    cfKNI = 0x8,
    cfCMOV = 0x10,
    cfE3DNow = 0x20,
    cfEMMX = 0x40,
    cfIntel = 0x100,
    cfAMD = 0x200,
    cfCyrix = 0x400,
    cfCentaur = 0x800,
    cfOtherVendor = 0x8000,
    cfFamily4 = 0x100000,
    cfFamily5 = 0x200000,
    cfFamily6 = 0x400000,
};

// The six capability bits (MMX .. EMMX) of the feature word.
constexpr std::uint32_t kCapabilityFeatureBits = 0x7E;

// Runs the detection, uncached.
std::uint32_t DetectCpuFeatures();
// The cached word, detected on the first call (a word of 0 is not cached).
std::uint32_t CpuFeatures();

// The player's capability set, one byte: MMX bit 0, 3DNow 1, KNI 2,
// E3DNow 3, CMOV 4, EMMX 5. Other bits are dropped both ways.
std::uint8_t FeaturesToCapabilities(std::uint32_t features);
std::uint32_t CapabilitiesToFeatures(std::uint8_t capabilities);

// The word the variants are selected with at the start of playback: the
// detected vendor, family and FPU bits, the capability bits of the set.
std::uint32_t EffectiveFeatures(std::uint32_t detected, std::uint8_t capabilities);

// Instruction sets of this processor that the fast variants are compiled
// for, checked apart from the feature word: whatever the word says, a
// variant never runs an instruction the processor lacks.
struct HostInstructionSets {
    bool sse2 = false;
    bool avx2Fma = false;  // AVX2 and FMA, with the operating system saving the wide registers
    bool x86_64v3 = false;  // the x86-64-v3 level: the above, BMI1 and 2, LZCNT, MOVBE
};
const HostInstructionSets& hostInstructionSets();

} // namespace morvik::mpeg
