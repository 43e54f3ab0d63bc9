#include "compo/synthesis.h"

#include "compo/dispatch.h"

#include <cmath>

namespace morvik::mpeg {

namespace {

// Clips a rounded sum to 16 bits. A sum that was no number or out of range
// was rounded to the "integer indefinite" value and gives -32768.
std::int16_t clip16(long value)
{
    if (value >= 32767)
        return 32767;
    if (value <= -32768)
        return -32768;
    return static_cast<std::int16_t>(value);
}

// 32 samples, written `step` apart. Block a of the ring starts at
// (offset + 32 a) mod 512; blocks never wrap inside, so each of the eight
// even and eight odd blocks is addressed from one base pointer. Sample j
// (1..15) and sample 32 - j read the same ring values and are summed in one
// pass; each sum keeps its even-block and odd-block taps in separate
// extended-precision partials. Sums are rounded with the processor's default
// mode (halves to even): this file is built with -fno-math-errno, so lrint is
// one instruction. All 32 are rounded before any is clipped, which keeps the
// floating-point unit busy while the integers travel to the clipping.
void windowToPcm(const float* window, const float* ring, int offset, std::int16_t* out, int step)
{
    const float* even[8];
    const float* odd[8];
    for (int i = 0; i < 8; ++i) {
        even[i] = ring + ((offset + 64 * i) & 511) + 16;
        odd[i] = ring + ((offset + 64 * i + 32) & 511) + 16;
    }
    long rounded[32];
    {
        long double evenSum = 0, oddSum = 0, middle = 0;
        for (int i = 0; i < 8; ++i) {
            evenSum += static_cast<long double>(window[2 * i]) * even[i][0];
            oddSum += static_cast<long double>(window[2 * i + 1]) * odd[i][0];
            middle += static_cast<long double>(window[256 + i]) * odd[i][-16];
        }
        rounded[0] = std::lrint(evenSum - oddSum);
        rounded[16] = std::lrint(middle);
    }
    for (int j = 1; j < 16; ++j) {
        const float* row = window + 16 * j;
        long double lowEven = 0, lowOdd = 0, highEven = 0, highOdd = 0;
        for (int i = 0; i < 8; ++i) {
            const long double e = even[i][j];
            const long double o = odd[i][-j];
            lowEven += row[2 * i] * e;
            lowOdd += row[2 * i + 1] * o;
            highEven += row[15 - 2 * i] * e;
            highOdd += row[14 - 2 * i] * o;
        }
        rounded[j] = std::lrint(lowEven - lowOdd);
        rounded[32 - j] = std::lrint(highEven + highOdd);
    }
    for (int j = 0; j < 32; ++j)
        out[j * step] = clip16(rounded[j]);
}

} // namespace

void SynthesisInit(SynthesisState& s)
{
    constexpr float unit = 1.0f / 65536.0f;
    for (int j = 0; j < 16; ++j)
        for (int k = 0; k < 16; ++k)
            s.window[16 * j + k] = static_cast<float>(kSynthesisWindowD[j + 32 * k]) * unit;
    // Sample 16: only the odd blocks contribute, with D[16 + 32 + 64 i]; the
    // minus of the V vector is folded into the stored sign.
    for (int i = 0; i < 8; ++i)
        s.window[256 + i] = -static_cast<float>(kSynthesisWindowD[48 + 64 * i]) * unit;
    if (s.inverted)
        for (float& w : s.window)
            w = -w;
    SynthesisReset(s);
}

void SynthesisReset(SynthesisState& s)
{
    for (auto& ring : s.ring)
        for (float& v : ring)
            v = 0.0f;
    s.offset[0] = s.offset[1] = 0;
}

void SetInvertPolarity(SynthesisState& s, bool on)
{
    if (s.inverted == on)
        return;
    for (float& w : s.window)
        w = -w;
    s.inverted = on;
}

void WindowToPcmMonoRef(const float* window, const float* ring, int offset, std::int16_t* out)
{
    windowToPcm(window, ring, offset, out, 1);
}

void WindowToPcmStereoRef(const float* window, const float* ring, int offset, std::int16_t* out)
{
    windowToPcm(window, ring, offset, out, 2);
}

void SynthesiseGranule(SynthesisState& s, int channel, const float* block, std::int16_t* out, bool stereo)
{
    const DecoderDispatch& d = decoderDispatch();
    float* ring = s.ring[channel];
    float scratch[32];
    for (int t = 0; t < 18; ++t) {
        const float* in = block + 32 * t;
        if (s.equalizerOn) {
            for (int k = 0; k < 32; ++k)
                scratch[k] = in[k] * s.equalizer[k];
            in = scratch;
        }
        int& offset = s.offset[channel];
        Dct32(in, ring + offset);
        if (stereo)
            d.WindowToPcmStereo(s.window, ring, offset, out + 64 * t);
        else
            d.WindowToPcmMono(s.window, ring, offset, out + 32 * t);
        offset = (offset - 32) & 511;
    }
}

} // namespace morvik::mpeg
