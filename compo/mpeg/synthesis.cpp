#include "compo/mpeg/synthesis.h"

#include "compo/mpeg/cpufeatures.h"
#include "compo/mpeg/dispatch.h"
#include "compo/mpeg/windowkernels.h"
#if defined(__x86_64__) || defined(__i386__)
#include "compo/mpeg/x86/variants.h"
#define MORVIK_X86_VARIANTS 1
#endif

#include <algorithm>
#include <cmath>

namespace morvik::mpeg {

namespace {

// 32 samples, written `step` apart. Block a of the ring starts at
// (offset + 32 a) mod 512 and never wraps inside. Sample j (1..15) and
// sample 32 - j read the same ring values: values j of the even blocks and
// values 16 - j of the odd blocks. Each sum keeps its even-block and
// odd-block taps in separate extended-precision partials, added in block
// order.
//
// A tap is the product of a window coefficient and a float, which a double
// holds exactly (17 + 24 significant bits). So the taps are formed first, in
// double arithmetic over runs of 16 ring values, and only the additions run
// in extended precision: every partial sum is the same to the last bit as
// with the products formed in extended precision, and the x87 unit does one
// add per tap. Two samples are summed together, which keeps seven or eight
// sums in flight.
//
// Sums are rounded with the processor's default mode (halves to even): this
// file is built with -fno-math-errno, so lrint is one instruction. All 32 are
// rounded before any is clipped, which keeps the floating-point unit busy
// while the integers travel to the clipping.
void plainWindowToPcm(const double* window, const float* ring, int offset, std::int16_t* out, int step)
{
    // taps[set][i][n] for the window's sets; sampleZero[i] for its last 8.
    double taps[4][8][16];
    double sampleZero[8];
    for (int i = 0; i < 8; ++i) {
        const float* even = ring + ((offset + 64 * i) & 511) + 16;
        const float* odd = ring + ((offset + 64 * i + 32) & 511);
        const double* w = window + 16 * i;
        for (int n = 0; n < 16; ++n) {
            taps[0][i][n] = w[n] * even[n];
            taps[1][i][n] = w[kWindowSetSize + n] * odd[n];
            taps[2][i][n] = w[2 * kWindowSetSize + n] * even[n];
            taps[3][i][n] = w[3 * kWindowSetSize + n] * odd[n];
        }
        sampleZero[i] = window[kWindowSampleZero + i] * odd[16];
    }
    long rounded[32];
    {
        // Samples 0, 16 and 1, 31.
        long double even0 = 0, odd0 = 0, middle = 0, a0 = 0, a1 = 0, a2 = 0, a3 = 0;
        for (int i = 0; i < 8; ++i) {
            even0 += taps[0][i][0];
            odd0 += sampleZero[i];
            middle += taps[1][i][0];
            a0 += taps[0][i][1];
            a1 += taps[1][i][15];
            a2 += taps[2][i][1];
            a3 += taps[3][i][15];
        }
        rounded[0] = std::lrint(even0 - odd0);
        rounded[16] = std::lrint(middle);
        rounded[1] = std::lrint(a0 - a1);
        rounded[31] = std::lrint(a2 + a3);
    }
    for (int j = 2; j < 16; j += 2) {
        long double a0 = 0, a1 = 0, a2 = 0, a3 = 0, b0 = 0, b1 = 0, b2 = 0, b3 = 0;
        for (int i = 0; i < 8; ++i) {
            a0 += taps[0][i][j];
            a1 += taps[1][i][16 - j];
            a2 += taps[2][i][j];
            a3 += taps[3][i][16 - j];
            b0 += taps[0][i][j + 1];
            b1 += taps[1][i][15 - j];
            b2 += taps[2][i][j + 1];
            b3 += taps[3][i][15 - j];
        }
        rounded[j] = std::lrint(a0 - a1);
        rounded[32 - j] = std::lrint(a2 + a3);
        rounded[j + 1] = std::lrint(b0 - b1);
        rounded[31 - j] = std::lrint(b2 + b3);
    }
    for (int j = 0; j < 32; ++j)
        out[j * step] = clip16(rounded[j]);
}

} // namespace

void StoreRingBlock(SynthesisRing& ring, int offset, const float* block)
{
    float* values = ring.values + offset;
    double* wide = ring.wide + offset;
    // The largest magnitude passes a NaN over (see windowkernels.h: maxps keeps
    // its second operand when the first is a NaN); an infinity counts.
#if defined(__SSE2__)
    const __m128 signBits = _mm_set1_ps(-0.0f);
    __m128 largest = _mm_setzero_ps();
    for (int n = 0; n < 32; n += 4) {
        const __m128 v = _mm_loadu_ps(block + n);
        _mm_store_ps(values + n, v);
        _mm_store_pd(wide + n, _mm_cvtps_pd(v));
        _mm_store_pd(wide + n + 2, _mm_cvtps_pd(_mm_movehl_ps(v, v)));
        largest = _mm_max_ps(_mm_andnot_ps(signBits, v), largest);
    }
    largest = _mm_max_ps(_mm_movehl_ps(largest, largest), largest);
    largest = _mm_max_ss(_mm_shuffle_ps(largest, largest, 1), largest);
    ring.largest = largestWithBlock(ring.blockMagnitude, offset / 32, largest);
    ring.blockMagnitude[offset / 32] = _mm_cvtss_f32(largest);
#else
    float largest = 0;
    for (int n = 0; n < 32; ++n) {
        values[n] = block[n];
        wide[n] = block[n];
        const float magnitude = std::fabs(block[n]);
        largest = magnitude > largest ? magnitude : largest;
    }
    ring.blockMagnitude[offset / 32] = largest;
    ring.largest = 0;
    for (const float m : ring.blockMagnitude)
        ring.largest = m > ring.largest ? m : ring.largest;
#endif
}

void SynthesisInit(SynthesisState& s)
{
    auto d = [](int n) { return static_cast<double>(kSynthesisWindowD[n]) / 65536.0; };
    double* taps = s.window.taps;
    for (int i = 0; i < 8; ++i) {
        double* w = taps + 16 * i;
        for (int n = 0; n < 16; ++n) {
            const int j = 16 - n;  // the sample of odd block value n
            w[n] = d(n + 64 * i);
            // The minus of the V vector at sample 16 is folded into its sign.
            w[kWindowSetSize + n] = n == 0 ? -d(48 + 64 * i) : d(j + 64 * i + 32);
            w[2 * kWindowSetSize + n] = n == 0 ? 0.0 : d(n + 32 * (15 - 2 * i));
            w[3 * kWindowSetSize + n] = n == 0 ? 0.0 : d(j + 32 * (14 - 2 * i));
        }
        taps[kWindowSampleZero + i] = d(64 * i + 32);
    }
    // The magnitude sums of the samples' taps, as windowSums pairs them
    // (exact: every coefficient is a multiple of 2^-16 below 2).
    WindowPartials<double> magnitudes{};
    for (int set = 0; set < 4; ++set)
        for (int i = 0; i < 8; ++i)
            for (int n = 0; n < 16; ++n)
                magnitudes.acc[set][n] += std::fabs(taps[set * kWindowSetSize + 16 * i + n]);
    for (int i = 0; i < 8; ++i)
        magnitudes.sampleZero -= std::fabs(taps[kWindowSampleZero + i]);
    double sums[32];
    windowSums(magnitudes, sums);
    s.window.magnitudeBound = 0.0;
    for (int j = 0; j < 32; ++j)
        s.window.magnitudeBound = std::max(s.window.magnitudeBound, sums[j]);
    if (s.inverted)
        for (double& w : s.window.taps)
            w = -w;
    for (int k = 0; k < kWindowSize; ++k)
        s.window.single[k] = static_cast<float>(taps[k]);
    SynthesisReset(s);
}

void SynthesisReset(SynthesisState& s)
{
    for (SynthesisRing& ring : s.ring)
        ring = SynthesisRing{};
    s.offset[0] = s.offset[1] = 0;
}

void SetInvertPolarity(SynthesisState& s, bool on)
{
    if (s.inverted == on)
        return;
    for (double& w : s.window.taps)
        w = -w;
    for (float& w : s.window.single)
        w = -w;
    s.inverted = on;
}

// The decided double sums of windowkernels.h, and the plain kernel for a
// step they cannot decide. The decided samples are clipped by the
// saturation of the packing, which gives what the compare-and-branch
// clipping of the plain kernel gives.
void WindowToPcmMonoBaseline(const SynthesisWindow& window, const SynthesisRing& ring, int offset,
                             std::int16_t* out)
{
    windowExactly<true>(window, ring, offset, out, 1);
}

void WindowToPcmStereoBaseline(const SynthesisWindow& window, const SynthesisRing& ring, int offset,
                               std::int16_t* out)
{
    windowExactly<true>(window, ring, offset, out, 2);
}

namespace {

// The reference's windowing on this processor: the same samples either way,
// the four-lane form where it can run (chosen once).
struct ExactWindowing {
    WindowToPcmFn mono = WindowToPcmMonoBaseline;
    WindowToPcmFn stereo = WindowToPcmStereoBaseline;
    ExactWindowing()
    {
#ifdef MORVIK_X86_VARIANTS
        if (hostInstructionSets().avx2Fma) {
            const DecoderDispatch fourLanes = x86::pentiumCmovVariants();
            mono = fourLanes.WindowToPcmMono;
            stereo = fourLanes.WindowToPcmStereo;
        }
#endif
    }
};

const ExactWindowing& exactWindowing()
{
    static const ExactWindowing windowing;
    return windowing;
}

} // namespace

void WindowToPcmMonoRef(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out)
{
    exactWindowing().mono(window, ring, offset, out);
}

void WindowToPcmStereoRef(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out)
{
    exactWindowing().stereo(window, ring, offset, out);
}

void WindowToPcmMonoPlain(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out)
{
    plainWindowToPcm(window.taps, ring.values, offset, out, 1);
}

void WindowToPcmStereoPlain(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out)
{
    plainWindowToPcm(window.taps, ring.values, offset, out, 2);
}

void SynthesiseGranule(SynthesisState& s, int channel, const float* block, std::int16_t* out, bool stereo)
{
    SynthesiseSteps(s, channel, block, 32, 1, 18, s.equalizerOn ? s.equalizer : nullptr, out, stereo);
}

namespace {

// Subband sample n of step k (k < count; later lanes repeat the last step,
// and their output is dropped) into lanes[n][k]: rows of four steps turned
// into columns, four values at a time.
void gatherLanes(const float* in, int stepStride, int lineStride, int count, float (&lanes)[32][4])
{
    const float* rows[4];
    for (int k = 0; k < 4; ++k)
        rows[k] = in + std::min(k, count - 1) * stepStride;
    int n = 0;
#if defined(__SSE2__)
    if (lineStride <= 2) {
        // With a stride of 2 the last four values end one value before their
        // eight would: they are left to the scalar loop, which reads no
        // further than the samples themselves.
        for (const int end = lineStride == 1 ? 32 : 28; n < end; n += 4) {
            __m128 v[4];
            for (int k = 0; k < 4; ++k) {
                if (lineStride == 1) {
                    v[k] = _mm_loadu_ps(rows[k] + n);
                } else {
                    // Every second value of eight: this channel's four.
                    const __m128 a = _mm_loadu_ps(rows[k] + 2 * n);
                    const __m128 b = _mm_loadu_ps(rows[k] + 2 * n + 4);
                    v[k] = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
                }
            }
            _MM_TRANSPOSE4_PS(v[0], v[1], v[2], v[3]);
            for (int i = 0; i < 4; ++i)
                _mm_storeu_ps(lanes[n + i], v[i]);
        }
    }
#endif
    for (; n < 32; ++n)
        for (int k = 0; k < 4; ++k)
            lanes[n][k] = rows[k][n * lineStride];
}

// The inverse: transform k's 32 outputs from their column into blocks[k].
void scatterLanes(const float (&lanes)[32][4], float (&blocks)[4][32])
{
#if defined(__SSE2__)
    for (int n = 0; n < 32; n += 4) {
        __m128 v[4];
        for (int i = 0; i < 4; ++i)
            v[i] = _mm_loadu_ps(lanes[n + i]);
        _MM_TRANSPOSE4_PS(v[0], v[1], v[2], v[3]);
        for (int k = 0; k < 4; ++k)
            _mm_storeu_ps(blocks[k] + n, v[k]);
    }
#else
    for (int k = 0; k < 4; ++k)
        for (int n = 0; n < 32; ++n)
            blocks[k][n] = lanes[n][k];
#endif
}

} // namespace

// The transforms run four time steps at a time, into scratch blocks: the
// ring slot of a later step still holds values the windowing of the earlier
// ones reads, so each is stored just before its windowing. The equaliser's
// products are the same whether taken before or after the lanes are formed.
void SynthesiseStepsBaseline(SynthesisState& s, int channel, const float* in, int stepStride, int lineStride,
                             int steps, const float* equalizer, std::int16_t* out, bool stereo)
{
    const DecoderDispatch& d = decoderDispatch();
    SynthesisRing& ring = s.ring[channel];
    int& offset = s.offset[channel];
    for (int t = 0; t < steps; t += 4) {
        const int count = std::min(4, steps - t);
        float lanes[32][4];
        gatherLanes(in + t * stepStride, stepStride, lineStride, count, lanes);
        if (equalizer)
            for (int n = 0; n < 32; ++n)
                for (int k = 0; k < 4; ++k)
                    lanes[n][k] *= equalizer[n];
        float transformed[32][4];
        Dct32x4(lanes, transformed);
        float blocks[4][32];
        scatterLanes(transformed, blocks);
        for (int k = 0; k < count; ++k) {
            StoreRingBlock(ring, offset, blocks[k]);
            if (stereo)
                d.WindowToPcmStereo(s.window, ring, offset, out + 64 * (t + k));
            else
                d.WindowToPcmMono(s.window, ring, offset, out + 32 * (t + k));
            offset = (offset - 32) & 511;
        }
    }
}

namespace {

using SynthesiseStepsFn = void (*)(SynthesisState& s, int channel, const float* in, int stepStride, int lineStride,
                                   int steps, const float* equalizer, std::int16_t* out, bool stereo);

// The transforms eight steps at a time where the processor has AVX2 (the
// same values either way; chosen once).
SynthesiseStepsFn synthesiseStepsHere()
{
#ifdef MORVIK_X86_VARIANTS
    if (hostInstructionSets().avx2Fma)
        return x86::synthesiseStepsEightLanes;
#endif
    return SynthesiseStepsBaseline;
}

} // namespace

void SynthesiseSteps(SynthesisState& s, int channel, const float* in, int stepStride, int lineStride, int steps,
                     const float* equalizer, std::int16_t* out, bool stereo)
{
    static const SynthesiseStepsFn here = synthesiseStepsHere();
    here(s, channel, in, stepStride, lineStride, steps, equalizer, out, stereo);
}

} // namespace morvik::mpeg
