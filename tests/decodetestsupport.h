// Helpers shared by the decoder's whole-file tests: decoding a byte string
// as the player does, and comparing PCM.
#pragma once

#include "compo/framestepper.h"
#include "compo/mpeg/cpufeatures.h"
#include "compo/mpeg/dispatch.h"
#include "compo/stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace decodetest {

struct DecodedStream {
    bool opened = false;
    morvik::mpeg::OutputFormat format;
    std::vector<std::int16_t> pcm;
};

// The PCM of every frame `stepper` gives from where it stands.
inline std::vector<std::int16_t> remainingPcm(morvik::FrameStepper& stepper)
{
    std::vector<std::int16_t> out, pcm(morvik::FrameStepper::PcmBufferBytes / 2);
    while (const int n = stepper.nextFrame(pcm.data()))
        out.insert(out.end(), pcm.begin(), pcm.begin() + n / 2);
    return out;
}

// Opens and steps through `bytes` in memory with the frame stepper the
// player uses.
inline DecodedStream decodeStream(const std::string& bytes, bool seekable = true)
{
    DecodedStream out;
    auto decoder = std::make_unique<morvik::mpeg::MpegDecoder>();
    morvik::TMPMemoryStream stream(bytes);
    morvik::FrameStepper stepper(*decoder);
    out.opened = stepper.open(stream, seekable);
    if (!out.opened)
        return out;
    out.format = stepper.format();
    out.pcm = remainingPcm(stepper);
    return out;
}

// The decoder's routine tables the whole-file tests run under: what
// `--cpu reference`, `--cpu auto` and `--cpu none` select here, and the
// feature word of every variant family (a family this processor cannot run
// falls back as its selectors say).
struct RoutineChoice {
    const char* name;
    void (*select)();
};

inline const std::vector<RoutineChoice>& routineChoices()
{
    using namespace morvik::mpeg;
    static const std::vector<RoutineChoice> choices = {
        {"reference", [] { SelectReferenceVariants(); }},
        {"auto", [] { SelectDecoderVariants(CpuFeatures()); }},
        {"none", [] { SelectDecoderVariants(EffectiveFeatures(CpuFeatures(), 0)); }},
        {"pentium", [] { SelectDecoderVariants(cfFPU | cfIntel | cfFamily6); }},
        {"pentium-cmov", [] { SelectDecoderVariants(0x40015B); }},
        {"3dnow", [] { SelectDecoderVariants(cfFPU | cfAMD | cfFamily6 | cf3DNow | cfMMX); }},
        {"e3dnow", [] { SelectDecoderVariants(0x40027F); }},
    };
    return choices;
}

// Puts the reference routines back when a test ends.
struct ReferenceRoutinesAfter {
    ~ReferenceRoutinesAfter() { morvik::mpeg::SelectReferenceVariants(); }
};

inline std::vector<std::int16_t> toSamples(const std::string& bytes)
{
    std::vector<std::int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                               static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8);
    return samples;
}

struct Difference {
    std::size_t compared = 0;
    int maxAbs = 0;
    double rms = 0;
    std::size_t worstIndex = 0;
};

inline Difference compare(const std::vector<std::int16_t>& ours, std::size_t ourStart,
                          const std::vector<std::int16_t>& reference, std::size_t refStart, std::size_t count)
{
    Difference d;
    double sum = 0;
    for (std::size_t i = 0; i < count && ourStart + i < ours.size() && refStart + i < reference.size(); ++i) {
        const int diff = std::abs(ours[ourStart + i] - reference[refStart + i]);
        if (diff > d.maxAbs) {
            d.maxAbs = diff;
            d.worstIndex = i;
        }
        sum += double(diff) * diff;
        ++d.compared;
    }
    d.rms = d.compared ? std::sqrt(sum / double(d.compared)) : 0;
    return d;
}

// The left-only and right-only outputs are the channels of the stereo
// output exactly; the mono mix is their average within rounding.
inline void expectChannelOutputsAgree(const std::vector<std::int16_t>& both,
                                      const std::vector<std::int16_t>& left,
                                      const std::vector<std::int16_t>& right,
                                      const std::vector<std::int16_t>& mix)
{
    ASSERT_EQ(both.size(), 2 * left.size());
    ASSERT_EQ(right.size(), left.size());
    ASSERT_EQ(mix.size(), left.size());
    int worstMix = 0;
    for (std::size_t i = 0; i < left.size(); ++i) {
        ASSERT_EQ(left[i], both[2 * i]) << i;
        ASSERT_EQ(right[i], both[2 * i + 1]) << i;
        worstMix = std::max(worstMix, std::abs(2 * mix[i] - (both[2 * i] + both[2 * i + 1])));
    }
    EXPECT_LE(worstMix, 3);
}

} // namespace decodetest
