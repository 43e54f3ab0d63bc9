// Processor detection, the selection of the decoder's variants, and every
// variant against the reference: on random data, on the rounding rule, on
// every conformance stream (the reference bit for bit against the plain
// extended-precision kernels), and through morvik-cli.
#include "compo/mpeg/cpufeatures.h"
#include "compo/mpeg/dispatch.h"
#include "compo/mpeg/imdct.h"
#include "compo/mpeg/stereo.h"
#include "compo/mpeg/synthesis.h"
#if defined(__x86_64__)
#include "compo/mpeg/x86/variants.h"
#endif

#include "decodetestsupport.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

using namespace morvik::mpeg;
using namespace decodetest;

namespace {

using F = VariantFamily;

int bitCount(std::uint32_t word)
{
    return std::popcount(word);
}

TEST(CpuFeatures, CapabilitySetMapsToFeatureBits)
{
    // Set member bit -> feature bit, as the player's set orders them.
    const struct {
        std::uint8_t member;
        std::uint32_t feature;
    } rows[] = {{0x01, cfMMX}, {0x02, cf3DNow}, {0x04, cfKNI}, {0x08, cfE3DNow}, {0x10, cfCMOV}, {0x20, cfEMMX}};
    for (const auto& r : rows) {
        EXPECT_EQ(CapabilitiesToFeatures(r.member), r.feature);
        EXPECT_EQ(FeaturesToCapabilities(r.feature), r.member);
    }
    EXPECT_EQ(CapabilitiesToFeatures(0x3F), kCapabilityFeatureBits);
    EXPECT_EQ(CapabilitiesToFeatures(0xC0), 0u) << "bits beyond the six are dropped";
    EXPECT_EQ(FeaturesToCapabilities(cfFPU | cfIntel | cfAMD | cfFamily6 | cfOtherVendor), 0);
    for (int set = 0; set < 64; ++set)
        EXPECT_EQ(FeaturesToCapabilities(CapabilitiesToFeatures(static_cast<std::uint8_t>(set))), set);
}

TEST(CpuFeatures, EffectiveWordTakesCapabilitiesFromTheSet)
{
    const std::uint32_t detected = cfFPU | cfAMD | cfFamily6 | cfMMX | cf3DNow | cfE3DNow | cfCMOV;
    EXPECT_EQ(EffectiveFeatures(detected, 0), cfFPU | cfAMD | cfFamily6);
    EXPECT_EQ(EffectiveFeatures(detected, 0x02), cfFPU | cfAMD | cfFamily6 | cf3DNow);
    EXPECT_EQ(EffectiveFeatures(cfFPU, 0x3F), cfFPU | kCapabilityFeatureBits);
}

#if defined(__x86_64__)
// Every x86-64 processor has an FPU, MMX, CMOV and SSE (so EMMX and KNI), one
// vendor and one family.
TEST(CpuFeatures, DetectionOnThisProcessor)
{
    const std::uint32_t word = DetectCpuFeatures();
    EXPECT_TRUE(word & cfFPU);
    for (std::uint32_t bit : {cfMMX, cfCMOV, cfEMMX, cfKNI})
        EXPECT_TRUE(word & bit) << std::hex << bit;
    EXPECT_EQ(bitCount(word & (cfIntel | cfAMD | cfCyrix | cfCentaur | cfOtherVendor)), 1);
    EXPECT_EQ(bitCount(word & (cfFamily4 | cfFamily5 | cfFamily6)), 1);
    __builtin_cpu_init();
    EXPECT_EQ((word & cfIntel) != 0, __builtin_cpu_is("intel") != 0);
    EXPECT_EQ((word & cfAMD) != 0, __builtin_cpu_is("amd") != 0);
    EXPECT_EQ(CpuFeatures(), word) << "the operating system keeps SSE state";
    EXPECT_EQ(CpuFeatures(), word) << "cached";
    EXPECT_TRUE(hostInstructionSets().sse2);
}
#endif

// One row of the selection rule: a feature word and the family each of the
// six operations takes (antialias, mono and stereo windowing, hybrid filter,
// 36-point and 12-point transforms).
struct SelectionRow {
    const char* what;
    std::uint32_t word;
    F family[6];
};

constexpr std::uint32_t kIntel6 = cfFPU | cfIntel | cfFamily6;
constexpr std::uint32_t kAmd6 = cfFPU | cfAMD | cfFamily6;
constexpr std::uint32_t k3D = cf3DNow;
constexpr std::uint32_t kE3D = cf3DNow | cfE3DNow;

const SelectionRow kSelectionRows[] = {
    {"no features", 0, {F::Reference, F::Reference, F::Reference, F::Reference, F::Reference, F::Reference}},
    {"AMD family 6 without 3DNow", kAmd6 | cfMMX | cfCMOV | cfKNI | cfEMMX,
     {F::Reference, F::Reference, F::Reference, F::Reference, F::Reference, F::Reference}},
    {"Intel family 4", cfFPU | cfIntel | cfFamily4 | cfCMOV,
     {F::Reference, F::Reference, F::Reference, F::Reference, F::Reference, F::Reference}},
    {"Cyrix family 6 with CMOV", cfFPU | cfCyrix | cfFamily6 | cfCMOV,
     {F::Reference, F::Reference, F::Reference, F::Reference, F::Reference, F::Reference}},
    {"Pentium class", kIntel6, {F::Reference, F::Pentium, F::Pentium, F::Pentium, F::Pentium, F::Pentium}},
    {"Pentium (family 5)", cfFPU | cfIntel | cfFamily5,
     {F::Reference, F::Pentium, F::Pentium, F::Pentium, F::Pentium, F::Pentium}},
    {"Pentium class with CMOV", 0x40015B,
     {F::Reference, F::PentiumCmov, F::PentiumCmov, F::Pentium, F::Pentium, F::Pentium}},
    {"3DNow", kAmd6 | k3D | cfMMX, {F::Amd3DNow, F::Amd3DNow, F::Amd3DNow, F::Reference, F::Reference, F::Reference}},
    {"extended 3DNow with all", 0x40027F,
     {F::AmdE3DNow, F::AmdE3DNow, F::AmdE3DNow, F::AmdE3DNow, F::AmdE3DNow, F::AmdE3DNow}},
    {"E3DNow without 3DNow is cleared", kAmd6 | cfE3DNow | cfEMMX | cfCMOV,
     {F::Reference, F::Reference, F::Reference, F::Reference, F::Reference, F::Reference}},
    {"Pentium class, E3DNow without 3DNow", kIntel6 | cfE3DNow | cfEMMX | cfCMOV,
     {F::Reference, F::PentiumCmov, F::PentiumCmov, F::Pentium, F::Pentium, F::Pentium}},
    {"E3DNow without EMMX", kAmd6 | kE3D | cfCMOV,
     {F::AmdE3DNow, F::Amd3DNow, F::Amd3DNow, F::AmdE3DNow, F::AmdE3DNow, F::AmdE3DNow}},
    {"E3DNow without CMOV", kAmd6 | kE3D | cfEMMX,
     {F::AmdE3DNow, F::AmdE3DNow, F::AmdE3DNow, F::Reference, F::AmdE3DNow, F::AmdE3DNow}},
    {"Pentium class, E3DNow without CMOV", kIntel6 | kE3D | cfEMMX,
     {F::AmdE3DNow, F::AmdE3DNow, F::AmdE3DNow, F::Pentium, F::AmdE3DNow, F::AmdE3DNow}},
    {"Pentium class with 3DNow and CMOV", kIntel6 | k3D | cfCMOV,
     {F::Amd3DNow, F::Amd3DNow, F::Amd3DNow, F::Pentium, F::Pentium, F::Pentium}},
};

// The routine the table should hold for `family`, or null when this
// processor cannot run that family.
template <typename Fn>
Fn expectedRoutine(F family, Fn DecoderDispatch::*op)
{
    const VariantSet& set = variantSet(family);
    return set.runnable ? set.routines.*op : nullptr;
}

TEST(Selection, FollowsTheRuleRowForRow)
{
    ReferenceRoutinesAfter restore;
    for (const SelectionRow& row : kSelectionRows) {
        SCOPED_TRACE(row.what);
        SelectDecoderVariants(row.word);
        const DecoderDispatch& d = decoderDispatch();
        auto check = [&](auto op, F family, const char* name) {
            const auto expected = expectedRoutine(family, op);
            if (expected) {
                EXPECT_EQ(d.*op, expected) << name;
            } else {
                EXPECT_NE(d.*op, variantSet(family).routines.*op) << name << ": never a family the processor lacks";
            }
        };
        check(&DecoderDispatch::Antialias, row.family[0], "Antialias");
        check(&DecoderDispatch::WindowToPcmMono, row.family[1], "WindowToPcmMono");
        check(&DecoderDispatch::WindowToPcmStereo, row.family[2], "WindowToPcmStereo");
        check(&DecoderDispatch::HybridFilter, row.family[3], "HybridFilter");
        check(&DecoderDispatch::Imdct36, row.family[4], "Imdct36");
        check(&DecoderDispatch::Imdct12x3, row.family[5], "Imdct12x3");
    }
}

TEST(Selection, ReferenceTableAndFamilyListing)
{
    ReferenceRoutinesAfter restore;
    SelectDecoderVariants(0x40027F);
    SelectReferenceVariants();
    const DecoderDispatch r = referenceDispatch();
    const DecoderDispatch& d = decoderDispatch();
    EXPECT_EQ(d.Antialias, r.Antialias);
    EXPECT_EQ(d.WindowToPcmMono, r.WindowToPcmMono);
    EXPECT_EQ(d.WindowToPcmStereo, r.WindowToPcmStereo);
    EXPECT_EQ(d.HybridFilter, r.HybridFilter);
    EXPECT_EQ(d.Imdct36, r.Imdct36);
    EXPECT_EQ(d.Imdct12x3, r.Imdct12x3);

    int count = 0;
    const VariantSet* sets = variantSets(count);
    ASSERT_GE(count, 1);
    EXPECT_EQ(sets[0].family, F::Reference);
    for (int k = 0; k < count; ++k)
        EXPECT_EQ(&variantSet(sets[k].family), &sets[k]) << sets[k].name;
#if defined(__x86_64__)
    EXPECT_EQ(count, kVariantFamilies);
    EXPECT_EQ(variantSet(F::AmdE3DNow).runnable, hostInstructionSets().avx2Fma);
#endif
}

// A ring holding `values` (512 of them).
std::unique_ptr<SynthesisRing> ringOf(const float* values)
{
    auto ring = std::make_unique<SynthesisRing>();
    for (int offset = 0; offset < kRingSize; offset += 32)
        StoreRingBlock(*ring, offset, values + offset);
    return ring;
}

// A window whose only nonzero coefficient is sample 1's first even tap
// (1.0), and a ring holding `value` where that tap reads.
std::int16_t sampleOneWith(WindowToPcmFn window, float value)
{
    auto w = std::make_unique<SynthesisWindow>();
    w->taps[1] = 1.0;
    w->single[1] = 1.0f;
    w->magnitudeBound = 1.0;
    float values[kRingSize] = {};
    values[17] = value;
    std::int16_t out[32] = {};
    window(*w, *ringOf(values), 0, out);
    return out[1];
}

TEST(Variants, SinglePrecisionWindowingRoundsHalvesAwayFromZero)
{
    const struct {
        float sum;
        int reference;
        int singlePrecision;
    } rows[] = {
        {-0.5f, 0, -1}, {0.5f, 0, 1}, {1.5f, 2, 2}, {2.5f, 2, 3}, {-1.5f, -2, -2}, {-2.5f, -2, -3},
        {0.49f, 0, 0}, {-0.51f, -1, -1}, {40000.0f, 32767, 32767}, {-40000.0f, -32768, -32768},
        {32767.5f, 32767, 32767}, {-32768.5f, -32768, -32768},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.sum);
        EXPECT_EQ(sampleOneWith(WindowToPcmMonoRef, r.sum), r.reference);
        EXPECT_EQ(sampleOneWith(WindowToPcmMonoPlain, r.sum), r.reference);
        for (F family : {F::Amd3DNow, F::AmdE3DNow}) {
            const VariantSet& set = variantSet(family);
            if (set.runnable) {
                EXPECT_EQ(sampleOneWith(set.routines.WindowToPcmMono, r.sum), r.singlePrecision) << set.name;
            }
        }
    }
}

// Rings of the sizes decoding produces, and some it never does.
void fillRing(std::mt19937& random, float* ring, float scale)
{
    std::uniform_real_distribution<float> value(-scale, scale);
    for (int k = 0; k < kRingSize; ++k)
        ring[k] = value(random);
}

// The forms of the exact windowing this processor runs: the reference (the
// fastest of them here), its baseline, and each lane width of the
// Pentium-class CMOV family it can run.
struct ExactForm {
    const char* name;
    WindowToPcmFn mono, stereo;
};

std::vector<ExactForm> exactForms()
{
    std::vector<ExactForm> forms = {{"reference", WindowToPcmMonoRef, WindowToPcmStereoRef},
                                    {"baseline", WindowToPcmMonoBaseline, WindowToPcmStereoBaseline}};
#if defined(__x86_64__)
    if (hostInstructionSets().avx2Fma) {
        const DecoderDispatch four = x86::pentiumCmovFourLaneVariants();
        forms.push_back({"four lanes", four.WindowToPcmMono, four.WindowToPcmStereo});
        if (__builtin_cpu_supports("avx512f")) {
            const DecoderDispatch eight = x86::pentiumCmovWideVariants();
            forms.push_back({"eight lanes", eight.WindowToPcmMono, eight.WindowToPcmStereo});
        }
    }
#endif
    return forms;
}

TEST(Variants, ReferenceWindowingEqualsThePlainKernelBitForBit)
{
    const std::vector<ExactForm> forms = exactForms();
    auto s = std::make_unique<SynthesisState>();
    SynthesisInit(*s);
    std::mt19937 random(16);
    alignas(32) float ring[kRingSize];
    const float scales[] = {0.001f, 1.0f, 300.0f, 20000.0f, 1e6f, 3e7f};
    for (bool inverted : {false, true}) {
        SetInvertPolarity(*s, inverted);
        for (float scale : scales)
            for (int round = 0; round < 200; ++round) {
                fillRing(random, ring, scale);
                // Integers and halves make exact ties and sums on rounding
                // boundaries, which the fast sums must leave to the plain ones.
                if (round % 3 == 0)
                    for (float& v : ring)
                        v = std::round(v * 2.0f) * 0.5f;
                for (int offset = 0; offset < kRingSize; offset += 96) {
                    std::int16_t plain[64];
                    const auto stored = ringOf(ring);
                    WindowToPcmStereoPlain(s->window, *stored, offset, plain);
                    for (const ExactForm& form : forms) {
                        // The other channel's slots are kept.
                        std::int16_t fast[64];
                        for (int j = 1; j < 64; j += 2)
                            fast[j] = static_cast<std::int16_t>(j * 1001);
                        form.stereo(s->window, *stored, offset, fast);
                        for (int j = 0; j < 64; j += 2) {
                            ASSERT_EQ(fast[j], plain[j]) << form.name << ", scale " << scale << " sample " << j / 2;
                            ASSERT_EQ(fast[j + 1], static_cast<std::int16_t>((j + 1) * 1001)) << form.name;
                        }
                    }
                }
            }
    }
    // Values that are no number, infinite or huge: the plain kernel's
    // results, whatever they are.
    const float odd[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity(), 3e38f, 1e20f};
    for (float value : odd)
        for (int index : {17, 40, 300}) {
            fillRing(random, ring, 100.0f);
            ring[index] = value;
            std::int16_t plain[32];
            const auto stored = ringOf(ring);
            WindowToPcmMonoPlain(s->window, *stored, 0, plain);
            for (const ExactForm& form : forms) {
                std::int16_t fast[32];
                form.mono(s->window, *stored, 0, fast);
                for (int j = 0; j < 32; ++j)
                    ASSERT_EQ(fast[j], plain[j]) << form.name << ", " << value << " at " << index << ", sample " << j;
            }
        }
}

// A stereo frame's channel written at the end of the output: channel 0 of
// a buffer that ends with its last sample, channel 1 of a full frame. Each
// writes its mono samples into its own slots only, and under
// AddressSanitizer reads nothing past the buffer.
TEST(Variants, StereoWindowingStaysInsideItsSlots)
{
    std::vector<ExactForm> forms = exactForms();
    int count = 0;
    const VariantSet* sets = variantSets(count);
    for (int k = 1; k < count; ++k)
        if (sets[k].runnable && sets[k].routines.WindowToPcmStereo)
            forms.push_back({sets[k].name, sets[k].routines.WindowToPcmMono, sets[k].routines.WindowToPcmStereo});
    forms.push_back({"plain", WindowToPcmMonoPlain, WindowToPcmStereoPlain});
    auto s = std::make_unique<SynthesisState>();
    SynthesisInit(*s);
    std::mt19937 random(9);
    alignas(32) float ring[kRingSize];
    fillRing(random, ring, 20000.0f);
    const auto stored = ringOf(ring);
    for (const ExactForm& form : forms) {
        std::int16_t mono[32];
        form.mono(s->window, *stored, 64, mono);
        for (int channel = 0; channel < 2; ++channel) {
            std::vector<std::int16_t> frame(63 + channel);
            for (std::size_t j = 0; j < frame.size(); ++j)
                frame[j] = static_cast<std::int16_t>(-3 * static_cast<int>(j) - 7);
            form.stereo(s->window, *stored, 64, frame.data() + channel);
            for (std::size_t j = 0; j < frame.size(); ++j) {
                const int kept = -3 * static_cast<int>(j) - 7;
                EXPECT_EQ(frame[j], static_cast<int>(j % 2) == channel ? mono[j / 2] : kept)
                    << form.name << ", channel " << channel << " slot " << j;
            }
        }
    }
}

TEST(Variants, WindowingWithinOneStepOfTheReference)
{
    auto s = std::make_unique<SynthesisState>();
    SynthesisInit(*s);
    std::mt19937 random(5);
    alignas(32) float ring[kRingSize];
    int count = 0;
    const VariantSet* sets = variantSets(count);
    for (int k = 1; k < count; ++k) {
        const VariantSet& set = sets[k];
        if (!set.runnable || !set.routines.WindowToPcmMono)
            continue;
        SCOPED_TRACE(set.name);
        int differing = 0;
        for (int round = 0; round < 400; ++round) {
            fillRing(random, ring, round % 2 ? 30000.0f : 50.0f);
            const int offset = 32 * (round % 16);
            std::int16_t reference[64], variant[64];
            const auto stored = ringOf(ring);
            WindowToPcmMonoRef(s->window, *stored, offset, reference);
            set.routines.WindowToPcmMono(s->window, *stored, offset, variant);
            const bool exact = set.family == F::Pentium || set.family == F::PentiumCmov;
            for (int j = 0; j < 32; ++j) {
                ASSERT_LE(std::abs(reference[j] - variant[j]), exact ? 0 : 1) << "sample " << j;
                differing += reference[j] != variant[j];
            }
            // The stereo form writes every second sample and leaves the rest.
            std::int16_t stereo[64];
            for (std::int16_t& v : stereo)
                v = 12345;
            set.routines.WindowToPcmStereo(s->window, *stored, offset, stereo);
            for (int j = 0; j < 32; ++j) {
                EXPECT_EQ(stereo[2 * j], variant[j]);
                EXPECT_EQ(stereo[2 * j + 1], 12345);
            }
        }
        EXPECT_LT(differing, 400 * 32 / 100) << "differences are rare";
    }
}

// How many values differ in their bits, every NaN counting as the same
// value: which NaN an operation on two of them passes on depends on the
// order of its operands in the instruction, and no output sample depends on
// it (a NaN in the ring makes every sum it enters round to -32768).
template <typename T, std::size_t N>
int differingValues(const T (&a)[N], const T (&b)[N])
{
    int differing = 0;
    for (std::size_t k = 0; k < N; ++k)
        differing += !(std::isnan(a[k]) && std::isnan(b[k])) && std::memcmp(&a[k], &b[k], sizeof(T)) != 0;
    return differing;
}

// The synthesis's transforms run eight steps at a time where the processor
// has AVX2 and four at a time elsewhere: the same rings and samples, bit for
// bit, for every step count (batches with lanes left over), the sample
// layouts of Layers I to III (one channel of an interleaved pair read
// from arrays no longer than the samples), with and without the equaliser,
// and with values that are no number, infinite or huge.
TEST(Variants, SynthesisStepsEqualTheBaselineBitForBit)
{
    std::mt19937 random(23);
    std::uniform_real_distribution<float> value(-20000.0f, 20000.0f);
    const float odd[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity(), 3e38f, 1e-40f};
    float equalizer[32];
    for (float& g : equalizer)
        g = std::uniform_real_distribution<float>(0.1f, 2.0f)(random);
    const struct {
        int lineStride, channel;
    } layouts[] = {{1, 0}, {2, 0}, {2, 1}, {3, 2}};
    for (const auto& layout : layouts)
        for (int steps : {1, 3, 4, 5, 8, 9, 12, 18, 36}) {
            SCOPED_TRACE(testing::Message() << "stride " << layout.lineStride << " channel " << layout.channel
                                            << " steps " << steps);
            const int stepStride = 32 * layout.lineStride;
            for (int round = 0; round < 4; ++round) {
                const bool stereo = round % 2 == 1;
                const float* gains = round >= 2 ? equalizer : nullptr;
                // The samples end exactly where the last step's last sample
                // does, so that a read past it is a fault under AddressSanitizer.
                std::vector<float> in((steps - 1) * stepStride + 31 * layout.lineStride + layout.channel + 1);
                for (float& v : in)
                    v = value(random);
                if (round == 3)
                    for (float unusual : odd)
                        in[random() % in.size()] = unusual;
                const float* samples = in.data() + layout.channel;
                auto fast = std::make_unique<SynthesisState>();
                auto baseline = std::make_unique<SynthesisState>();
                SynthesisInit(*fast);
                SynthesisInit(*baseline);
                std::vector<std::int16_t> fastOut(64 * steps * 2, 777), baselineOut(64 * steps * 2, 777);
                // Twice, so that the second call starts on a ring the first
                // filled, at an offset other than 0.
                for (int call = 0; call < 2; ++call) {
                    std::int16_t* to = fastOut.data() + 64 * steps * call;
                    SynthesiseSteps(*fast, 1, samples, stepStride, layout.lineStride, steps, gains, to, stereo);
                    to = baselineOut.data() + 64 * steps * call;
                    SynthesiseStepsBaseline(*baseline, 1, samples, stepStride, layout.lineStride, steps, gains, to,
                                            stereo);
                }
                EXPECT_TRUE(fastOut == baselineOut) << "round " << round;
                EXPECT_EQ(fast->offset[1], baseline->offset[1]);
                const SynthesisRing& a = fast->ring[1];
                const SynthesisRing& b = baseline->ring[1];
                EXPECT_EQ(differingValues(a.values, b.values), 0) << "round " << round;
                EXPECT_EQ(differingValues(a.wide, b.wide), 0) << "round " << round;
                EXPECT_EQ(differingValues(a.blockMagnitude, b.blockMagnitude), 0) << "round " << round;
                // The ring's largest is the largest of its blocks' magnitudes.
                float largest = 0;
                for (const float m : b.blockMagnitude)
                    largest = std::max(largest, m);
                EXPECT_EQ(b.largest, largest) << "round " << round;
                EXPECT_EQ(a.largest, largest) << "round " << round;
            }
        }
}

// The largest difference, relative to the largest reference magnitude:
// single-precision sums in another order or with fused products differ by
// a few units in the last place of their largest terms.
float relativeDifference(const float* reference, const float* variant, int n)
{
    float largest = 0, magnitude = 1;
    for (int k = 0; k < n; ++k) {
        largest = std::max(largest, std::fabs(reference[k] - variant[k]));
        magnitude = std::max(magnitude, std::fabs(reference[k]));
    }
    return largest / magnitude;
}

constexpr float kRelativeBound = 1e-5f;

TEST(Variants, TransformsAndButterfliesMatchTheReference)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(-1000.0f, 1000.0f);
    int count = 0;
    const VariantSet* sets = variantSets(count);
    const DecoderDispatch r = referenceDispatch();
    for (int k = 1; k < count; ++k) {
        const VariantSet& set = sets[k];
        if (!set.runnable)
            continue;
        SCOPED_TRACE(set.name);
        for (int round = 0; round < 50; ++round) {
            float x[576], a[576], b[576];
            for (float& v : x)
                v = value(random);
            if (set.routines.Antialias) {
                std::copy(x, x + 576, a);
                std::copy(x, x + 576, b);
                const int boundaries = round % 32;
                r.Antialias(a, boundaries);
                set.routines.Antialias(b, boundaries);
                EXPECT_LE(relativeDifference(a, b, 576), kRelativeBound) << "Antialias";
            }
            for (auto op : {&DecoderDispatch::Imdct36, &DecoderDispatch::Imdct12x3}) {
                if (!(set.routines.*op))
                    continue;
                std::copy(x, x + 18, a);
                std::copy(x, x + 18, b);
                (r.*op)(a);
                (set.routines.*op)(b);
                EXPECT_LE(relativeDifference(a, b, 18), kRelativeBound);
            }
            if (set.routines.HybridFilter) {
                float previous[576], blockA[576], blockB[576];
                for (float& v : previous)
                    v = value(random);
                std::copy(x, x + 576, a);
                std::copy(x, x + 576, b);
                const int type = round % 4 + (round % 5 == 0 ? kMixedBlockBit : 0);
                const int longLines = (type & 3) != 2 ? 576 : (type & kMixedBlockBit) ? 36 : 0;
                const int covered = r.HybridFilter(a, previous, blockA, type, longLines, 576, 576, 32);
                EXPECT_EQ(set.routines.HybridFilter(b, previous, blockB, type, longLines, 576, 576, 32), covered);
                EXPECT_LE(relativeDifference(blockA, blockB, 576), kRelativeBound) << "HybridFilter output";
                EXPECT_LE(relativeDifference(a, b, 576), kRelativeBound) << "HybridFilter overlap";
            }
        }
    }
}

// The reference hybrid filter transforms four long-block subbands per
// vector; each must come out bit for bit as the single-subband transform
// and windowing give it, for every block type's long window.
TEST(Variants, FourSubbandHybridFilterEqualsOneSubbandAtATime)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<float> value(-20000.0f, 20000.0f);
    for (int type : {0, 1, 3, kMixedBlockBit}) {
        SCOPED_TRACE(type);
        float current[576], previous[576], block[576];
        for (int k = 0; k < 576; ++k) {
            current[k] = value(random);
            previous[k] = value(random);
        }
        float spectrum[576];
        std::copy(current, current + 576, spectrum);
        ASSERT_EQ(HybridFilterRef(current, previous, block, type, 576, 576, 576, 32), 576);
        int mismatches = 0;
        for (int s = 0; s < 32; ++s) {
            const float* w = blockWindows()[(type & kMixedBlockBit) && s < 2 ? 0 : type & 3];
            float y[18];
            std::copy(spectrum + 18 * s, spectrum + 18 * s + 18, y);
            Imdct36Ref(y);
            const float* in = previous + 18 * s;
            for (int t = 0; t < 9; ++t) {
                mismatches += std::bit_cast<std::uint32_t>(block[32 * t + s]) !=
                              std::bit_cast<std::uint32_t>(in[t] + w[t] * y[t + 9]);
                mismatches += std::bit_cast<std::uint32_t>(block[32 * (t + 9) + s]) !=
                              std::bit_cast<std::uint32_t>(in[t + 9] + w[t + 9] * y[17 - t]);
                mismatches += std::bit_cast<std::uint32_t>(current[18 * s + t]) !=
                              std::bit_cast<std::uint32_t>(w[t + 18] * y[8 - t]);
                mismatches += std::bit_cast<std::uint32_t>(current[18 * s + t + 9]) !=
                              std::bit_cast<std::uint32_t>(w[t + 27] * y[t]);
            }
        }
        EXPECT_EQ(mismatches, 0);
    }
}

// Every conformance bitstream decodes to the same bytes with the reference
// table and with the plain extended-precision windowing kernels.
TEST(Variants, ReferenceDecodesConformanceLikeThePlainKernels)
{
    ReferenceRoutinesAfter restore;
    DecoderDispatch plain = referenceDispatch();
    plain.WindowToPcmMono = WindowToPcmMonoPlain;
    plain.WindowToPcmStereo = WindowToPcmStereoPlain;
    const std::string folder = testsupport::sharedDir() + "/conformance";
    int streams = 0;
    for (const std::string& name : testsupport::listFolder(folder)) {
        if (name.size() < 4 || name.substr(name.size() - 4) != ".bit")
            continue;
        SCOPED_TRACE(name);
        const std::string bytes = testsupport::readFile(folder + "/" + name);
        SelectReferenceVariants();
        const DecodedStream reference = decodeStream(bytes);
        InstallDecoderDispatch(plain);
        const DecodedStream extended = decodeStream(bytes);
        EXPECT_EQ(reference.opened, extended.opened);
        EXPECT_TRUE(reference.pcm == extended.pcm);
        // The Pentium-class families give the reference's samples too.
        for (std::uint32_t word : {cfFPU | cfIntel | cfFamily6, 0x40015Bu}) {
            SelectDecoderVariants(word);
            EXPECT_TRUE(decodeStream(bytes).pcm == reference.pcm) << std::hex << word;
        }
        // So does the reference's baseline form, which a processor without
        // AVX2 and FMA runs.
        DecoderDispatch baseline = referenceDispatch();
        baseline.WindowToPcmMono = WindowToPcmMonoBaseline;
        baseline.WindowToPcmStereo = WindowToPcmStereoBaseline;
        InstallDecoderDispatch(baseline);
        EXPECT_TRUE(decodeStream(bytes).pcm == reference.pcm) << "baseline";
        ++streams;
    }
    EXPECT_GT(streams, 60);
}

// morvik-cli: the options reach the decoder and the player alike.
std::string cliPcm(const std::string& options, const std::string& mp3, const testsupport::TempDir& dir)
{
    const std::string out = dir.file("out.pcm");
    const auto r = testsupport::run(testsupport::cliPath() + " decode " + options + " " +
                                    testsupport::shellQuote(mp3) + " " + testsupport::shellQuote(out));
    EXPECT_EQ(r.status, 0) << options;
    return testsupport::readFile(out);
}

std::string renderedPcm(const std::string& options, const std::string& mp3, const testsupport::TempDir& dir)
{
    const std::string wav = dir.file("out.wav");
    const auto r = testsupport::run(testsupport::cliPath() + " render " + options + " " +
                                    testsupport::shellQuote(mp3) + " " + testsupport::shellQuote(wav));
    EXPECT_EQ(r.status, 0) << options;
    const std::string bytes = testsupport::readFile(wav);
    return bytes.size() > 44 ? bytes.substr(44) : std::string();
}

TEST(Variants, CommandLineOptionsSelectTheRoutines)
{
    testsupport::TempDir dir;
    const std::string mp3 = dir.file("tone.mp3");
    testsupport::writeFile(mp3, testsupport::toneMp3(1.0));
    const std::string reference = cliPcm("--cpu reference", mp3, dir);
    ASSERT_FALSE(reference.empty());
    EXPECT_EQ(cliPcm("", mp3, dir), cliPcm("--cpu auto", mp3, dir));
    // Without 3DNow! (every processor of today) --cpu auto runs the
    // reference routines or the Pentium-class ones, whose samples are the
    // reference's.
    if (!(CpuFeatures() & cf3DNow)) {
        EXPECT_EQ(cliPcm("--cpu auto", mp3, dir), reference);
    }
    // An AMD word without 3DNow!, or any word with no capability, keeps
    // every routine on the reference.
    EXPECT_EQ(cliPcm("--cpu-features 40025B", mp3, dir), reference);
    EXPECT_EQ(cliPcm("--cpu none --cpu-features 0x40027F", mp3, dir), reference);
    EXPECT_EQ(renderedPcm("--cpu none --cpu-features 0x40027F", mp3, dir), reference);
    // The player selects as decode does.
    for (const char* word : {"0x40015B", "0x40027F", "0x400207"}) {
        const std::string options = std::string("--cpu-features ") + word;
        EXPECT_EQ(renderedPcm(options, mp3, dir), cliPcm(options, mp3, dir)) << word;
    }
    EXPECT_EQ(renderedPcm("--cpu reference --cpu-features 0x40027F", mp3, dir), reference);
    for (const char* bad : {"--cpu fast", "--cpu-features 0", "--cpu-features xyz", "--cpu-features 0x123456789",
                            "--cpu"}) {
        const auto r = testsupport::run(testsupport::cliPath() + " decode " + bad + " " +
                                        testsupport::shellQuote(mp3) + " /dev/null");
        EXPECT_EQ(r.status, 2) << bad;
    }
}

} // namespace
