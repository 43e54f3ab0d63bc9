#include "compo/mpeg/dispatch.h"

#include "compo/mpeg/cpufeatures.h"
#include "compo/mpeg/imdct.h"
#include "compo/mpeg/stereo.h"
#include "compo/mpeg/synthesis.h"

#if defined(__x86_64__) || defined(__i386__)
#include "compo/mpeg/x86/variants.h"
#define MORVIK_X86_VARIANTS 1
#endif

#include <initializer_list>

namespace morvik::mpeg {

namespace {

DecoderDispatch g_dispatch = {AntialiasRef, WindowToPcmMonoRef, WindowToPcmStereoRef,
                              HybridFilterRef, Imdct36Ref, Imdct12x3Ref};

struct VariantSets {
    VariantSet sets[kVariantFamilies];
    int count = 0;
    VariantSets()
    {
        sets[count++] = {VariantFamily::Reference, "reference", referenceDispatch(), true};
#ifdef MORVIK_X86_VARIANTS
        const HostInstructionSets& host = hostInstructionSets();
        // The families built for AVX2 are asked for their routines only where
        // they can run: the code that fills their tables is built for AVX2 as
        // well, and may use its instructions.
        const DecoderDispatch none{};
        sets[count++] = {VariantFamily::Pentium, "pentium", x86::pentiumVariants(), host.sse2};
        sets[count++] = {VariantFamily::PentiumCmov, "pentium-cmov", host.avx2Fma ? x86::pentiumCmovVariants() : none,
                         host.avx2Fma};
        sets[count++] = {VariantFamily::Amd3DNow, "3dnow", x86::amd3DNowVariants(), host.sse2};
        sets[count++] = {VariantFamily::AmdE3DNow, "e3dnow", host.avx2Fma ? x86::amdE3DNowVariants() : none,
                         host.avx2Fma};
#endif
    }
};

const VariantSets& allSets()
{
    static const VariantSets sets;
    return sets;
}

bool has(std::uint32_t features, std::uint32_t bits)
{
    return (features & bits) == bits;
}

bool pentiumClass(std::uint32_t features)
{
    return has(features, cfIntel) && (features & (cfFamily5 | cfFamily6)) != 0;
}

// One row of a selector: when the word matches, the family's variant, if
// the family has one and this processor can run it.
struct Rule {
    bool matches;
    VariantFamily family;
};

template <typename Fn>
Fn firstRule(Fn DecoderDispatch::*operation, std::initializer_list<Rule> rules)
{
    for (const Rule& rule : rules) {
        if (!rule.matches)
            continue;
        const VariantSet& set = variantSet(rule.family);
        if (set.runnable && set.routines.*operation)
            return set.routines.*operation;
    }
    return referenceDispatch().*operation;
}

} // namespace

const VariantSet* variantSets(int& count)
{
    count = allSets().count;
    return allSets().sets;
}

const VariantSet& variantSet(VariantFamily family)
{
    static const VariantSet absent{};
    const VariantSets& all = allSets();
    for (int k = 0; k < all.count; ++k)
        if (all.sets[k].family == family)
            return all.sets[k];
    return absent;
}

const DecoderDispatch& decoderDispatch()
{
    return g_dispatch;
}

DecoderDispatch referenceDispatch()
{
    return {AntialiasRef, WindowToPcmMonoRef, WindowToPcmStereoRef, HybridFilterRef, Imdct36Ref, Imdct12x3Ref};
}

void SelectReferenceVariants()
{
    g_dispatch = referenceDispatch();
}

void InstallDecoderDispatch(const DecoderDispatch& table)
{
    g_dispatch = table;
}

void SelectAntialias(std::uint32_t f)
{
    g_dispatch.Antialias = firstRule(&DecoderDispatch::Antialias, {
        {has(f, cfE3DNow), VariantFamily::AmdE3DNow},
        {has(f, cf3DNow), VariantFamily::Amd3DNow},
    });
}

void SelectWindowToPcmMono(std::uint32_t f)
{
    g_dispatch.WindowToPcmMono = firstRule(&DecoderDispatch::WindowToPcmMono, {
        {has(f, cfE3DNow | cfEMMX), VariantFamily::AmdE3DNow},
        {has(f, cf3DNow), VariantFamily::Amd3DNow},
        {pentiumClass(f) && has(f, cfCMOV), VariantFamily::PentiumCmov},
        {pentiumClass(f), VariantFamily::Pentium},
    });
}

void SelectWindowToPcmStereo(std::uint32_t f)
{
    g_dispatch.WindowToPcmStereo = firstRule(&DecoderDispatch::WindowToPcmStereo, {
        {has(f, cfE3DNow | cfEMMX), VariantFamily::AmdE3DNow},
        {has(f, cf3DNow), VariantFamily::Amd3DNow},
        {pentiumClass(f) && has(f, cfCMOV), VariantFamily::PentiumCmov},
        {pentiumClass(f), VariantFamily::Pentium},
    });
}

void SelectHybridFilter(std::uint32_t f)
{
    g_dispatch.HybridFilter = firstRule(&DecoderDispatch::HybridFilter, {
        {has(f, cfE3DNow | cfCMOV), VariantFamily::AmdE3DNow},
        {pentiumClass(f), VariantFamily::Pentium},
    });
}

void SelectImdct36(std::uint32_t f)
{
    g_dispatch.Imdct36 = firstRule(&DecoderDispatch::Imdct36, {
        {has(f, cfE3DNow), VariantFamily::AmdE3DNow},
        {pentiumClass(f), VariantFamily::Pentium},
    });
}

void SelectImdct12x3(std::uint32_t f)
{
    g_dispatch.Imdct12x3 = firstRule(&DecoderDispatch::Imdct12x3, {
        {has(f, cfE3DNow), VariantFamily::AmdE3DNow},
        {pentiumClass(f), VariantFamily::Pentium},
    });
}

void SelectDecoderVariants(std::uint32_t features)
{
    if (!(features & cf3DNow))
        features &= ~static_cast<std::uint32_t>(cfE3DNow);
    SelectAntialias(features);
    SelectWindowToPcmMono(features);
    SelectWindowToPcmStereo(features);
    SelectHybridFilter(features);
    SelectImdct36(features);
    SelectImdct12x3(features);
}

} // namespace morvik::mpeg
