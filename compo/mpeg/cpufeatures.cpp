#include "compo/mpeg/cpufeatures.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define MORVIK_X86 1
#endif

namespace morvik::mpeg {

namespace {

// Plain word: the detection runs on the main thread only (the player's
// property setter and Play, the command-line tool).
std::uint32_t g_cachedFeatures = 0;

constexpr struct {
    std::uint8_t member;
    std::uint32_t feature;
} kCapabilityMap[] = {
    {0x01, cfMMX}, {0x02, cf3DNow}, {0x04, cfKNI}, {0x08, cfE3DNow}, {0x10, cfCMOV}, {0x20, cfEMMX},
};

#ifdef MORVIK_X86

// The floating-point unit answers after an initialisation with a clear
// status byte and the default control word (all exceptions masked).
bool fpuAnswers()
{
    std::uint16_t status = 0xFFFF;
    std::uint16_t control = 0;
    asm volatile("fninit\n\tfnstsw %0\n\tfnstcw %1" : "=m"(status), "=m"(control));
    return (status & 0xFF) == 0 && (control & 0x103F) == 0x3F;
}

std::uint32_t vendorBit(unsigned lastFour)
{
    // The last four characters of the vendor string, little-endian.
    constexpr auto word = [](const char (&s)[5]) {
        return static_cast<unsigned>(s[0]) | static_cast<unsigned>(s[1]) << 8 |
               static_cast<unsigned>(s[2]) << 16 | static_cast<unsigned>(s[3]) << 24;
    };
    if (lastFour == word("ntel"))
        return cfIntel;
    if (lastFour == word("cAMD"))
        return cfAMD;
    if (lastFour == word("tead"))
        return cfCyrix;
    if (lastFour == word("auls"))
        return cfCentaur;
    return cfOtherVendor;
}

// On x86-64 the alignment-check and identification flags always toggle, so
// the 386 and 486 branches of the detection cannot arise; the identification
// instruction answers every leaf asked below.
std::uint32_t detectX86()
{
    if (!fpuAnswers())
        return 0;
    std::uint32_t word = cfFPU;
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(0, &a, &b, &c, &d))
        return word;
    word |= vendorBit(c);
    __get_cpuid(1, &a, &b, &c, &d);
    const unsigned familyByte = (a >> 8) & 0xFF;
    if (familyByte == 4)
        return word | cfFamily4;
    word |= familyByte == 5 ? cfFamily5 : cfFamily6;
    const unsigned leaf1Edx = d;
    if (static_cast<unsigned>(__get_cpuid_max(0x80000000, nullptr)) >= 0x80000001u) {
        __get_cpuid(0x80000001, &a, &b, &c, &d);
        if (d & (1u << 31))
            word |= cf3DNow;
        if (d & (1u << 15))
            word |= cfCMOV;
        if (d & (1u << 30))
            word |= cfE3DNow;
        if (d & (1u << 22))
            word |= cfEMMX;
    }
    if (leaf1Edx & (1u << 23))
        word |= cfMMX;
    if (leaf1Edx & (1u << 15))
        word |= cfCMOV;
    if (leaf1Edx & (1u << 25))
        word |= cfEMMX | cfKNI;
    return word;
}

// The operating-system test loads the SSE control register with all
// exceptions masked and flush-to-zero on. An x86-64 system always keeps SSE
// state, so the load cannot fault here; the previous value is put back,
// because flush-to-zero would change the decoder's own float arithmetic.
bool sseStateAccepted()
{
    const unsigned saved = __builtin_ia32_stmxcsr();
    __builtin_ia32_ldmxcsr(0x9F80);
    __builtin_ia32_ldmxcsr(saved);
    return true;
}

HostInstructionSets detectHost()
{
    HostInstructionSets host;
    __builtin_cpu_init();
    host.sse2 = __builtin_cpu_supports("sse2");
    host.avx2Fma = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#if !defined(__clang__)
    // Clang cannot ask for the level, and nothing it builds needs it.
    host.x86_64v3 = __builtin_cpu_supports("x86-64-v3");
#endif
    return host;
}

#endif

} // namespace

std::uint32_t DetectCpuFeatures()
{
#ifdef MORVIK_X86
    return detectX86();
#else
    // Elsewhere the decoder has only its plain routines: FPU is all it asks.
    return cfFPU;
#endif
}

std::uint32_t CpuFeatures()
{
    if (g_cachedFeatures != 0)
        return g_cachedFeatures;
    std::uint32_t word = DetectCpuFeatures();
#ifdef MORVIK_X86
    if ((word & cfKNI) && !sseStateAccepted())
        word &= ~static_cast<std::uint32_t>(cfKNI);
#endif
    g_cachedFeatures = word;
    return word;
}

std::uint8_t FeaturesToCapabilities(std::uint32_t features)
{
    std::uint8_t set = 0;
    for (const auto& m : kCapabilityMap)
        if (features & m.feature)
            set |= m.member;
    return set;
}

std::uint32_t CapabilitiesToFeatures(std::uint8_t capabilities)
{
    std::uint32_t word = 0;
    for (const auto& m : kCapabilityMap)
        if (capabilities & m.member)
            word |= m.feature;
    return word;
}

std::uint32_t EffectiveFeatures(std::uint32_t detected, std::uint8_t capabilities)
{
    return (detected & ~kCapabilityFeatureBits) | CapabilitiesToFeatures(capabilities);
}

const HostInstructionSets& hostInstructionSets()
{
#ifdef MORVIK_X86
    static const HostInstructionSets host = detectHost();
#else
    static const HostInstructionSets host;
#endif
    return host;
}

} // namespace morvik::mpeg
