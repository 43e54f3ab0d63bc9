// The synthesis's transforms eight time steps at a time, built for AVX2
// without FMA (run only where the processor has AVX2): the reference's DCT
// in eight lanes, so every value is the same to the last bit as in the
// baseline's four, and the ring stored 256 bits at a time.
#include "compo/mpeg/x86/variants.h"

#include "compo/mpeg/dctkernels.h"
#include "compo/mpeg/synthesis.h"
#include "compo/mpeg/windowkernels.h"

#include <algorithm>
#include <immintrin.h>

namespace morvik::mpeg::x86 {

namespace {

using Lanes = DctLanes<8>::Vector;

// Eight rows of eight floats turned into eight columns.
inline void transpose8(__m256 (&r)[8])
{
    __m256 t[8], u[8];
    for (int k = 0; k < 8; k += 2) {
        t[k] = _mm256_unpacklo_ps(r[k], r[k + 1]);
        t[k + 1] = _mm256_unpackhi_ps(r[k], r[k + 1]);
    }
    // u[4 h + c] holds column c of rows 4 h .. 4 h + 3 in its lower half and
    // column c + 4 in its upper half.
    for (int h = 0; h < 2; ++h) {
        const __m256* th = t + 4 * h;
        u[4 * h] = _mm256_shuffle_ps(th[0], th[2], _MM_SHUFFLE(1, 0, 1, 0));
        u[4 * h + 1] = _mm256_shuffle_ps(th[0], th[2], _MM_SHUFFLE(3, 2, 3, 2));
        u[4 * h + 2] = _mm256_shuffle_ps(th[1], th[3], _MM_SHUFFLE(1, 0, 1, 0));
        u[4 * h + 3] = _mm256_shuffle_ps(th[1], th[3], _MM_SHUFFLE(3, 2, 3, 2));
    }
    for (int c = 0; c < 4; ++c) {
        r[c] = _mm256_permute2f128_ps(u[c], u[4 + c], 0x20);
        r[c + 4] = _mm256_permute2f128_ps(u[c], u[4 + c], 0x31);
    }
}

// Subband sample n of step k (k < count; later lanes repeat the last step,
// and their output is dropped) into lane k of lanes[n].
void gatherLanes(const float* in, int stepStride, int lineStride, int count, Lanes (&lanes)[32])
{
    const float* rows[8];
    for (int k = 0; k < 8; ++k)
        rows[k] = in + std::min(k, count - 1) * stepStride;
    if (lineStride != 1 && lineStride != 2) {
        for (int n = 0; n < 32; ++n)
            for (int k = 0; k < 8; ++k)
                lanes[n][k] = rows[k][n * lineStride];
        return;
    }
    for (int n = 0; n < 32; n += 8) {
        __m256 v[8];
        for (int k = 0; k < 8; ++k) {
            if (lineStride == 1) {
                v[k] = _mm256_loadu_ps(rows[k] + n);
            } else {
                // Every second value of sixteen: this channel's eight. The
                // last eight are read one value early, so that nothing past
                // the 32nd sample is read.
                const bool last = n == 24;
                const float* from = rows[k] + 2 * n - (last ? 1 : 0);
                const __m256 a = _mm256_loadu_ps(from);
                const __m256 b = _mm256_loadu_ps(from + 8);
                const __m256 picked = last ? _mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1))
                                           : _mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
                v[k] = _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(picked), _MM_SHUFFLE(3, 1, 2, 0)));
            }
        }
        transpose8(v);
        for (int i = 0; i < 8; ++i)
            lanes[n + i] = v[i];
    }
}

// The inverse: transform k's 32 outputs from lane k into blocks[k].
void scatterLanes(const Lanes (&lanes)[32], float (&blocks)[8][32])
{
    for (int n = 0; n < 32; n += 8) {
        __m256 v[8];
        for (int i = 0; i < 8; ++i)
            v[i] = lanes[n + i];
        transpose8(v);
        for (int k = 0; k < 8; ++k)
            _mm256_store_ps(blocks[k] + n, v[k]);
    }
}

[[gnu::flatten]] void dct32EightLanes(const Lanes (&in)[32], Lanes (&out)[32], const DctCoefficients& coef)
{
    leeDctLanes<32, 8>(in, out, coef);
}

// StoreRingBlock in 256-bit vectors: the same values, widened values, block
// magnitude and ring's largest (maxps keeps its second operand when the first is a NaN,
// so a NaN is passed over; the running largest is never a NaN, and the
// largest of the other magnitudes does not depend on their order).
void storeRingBlock(SynthesisRing& ring, int offset, const float* block)
{
    float* values = ring.values + offset;
    double* wide = ring.wide + offset;
    const __m256 signBits = _mm256_set1_ps(-0.0f);
    __m256 largest = _mm256_setzero_ps();
    for (int n = 0; n < 32; n += 8) {
        const __m256 v = _mm256_load_ps(block + n);
        _mm256_store_ps(values + n, v);
        _mm256_store_pd(wide + n, _mm256_cvtps_pd(_mm256_castps256_ps128(v)));
        _mm256_store_pd(wide + n + 4, _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)));
        largest = _mm256_max_ps(_mm256_andnot_ps(signBits, v), largest);
    }
    __m128 m = _mm_max_ps(_mm256_extractf128_ps(largest, 1), _mm256_castps256_ps128(largest));
    m = _mm_max_ps(_mm_movehl_ps(m, m), m);
    m = _mm_max_ss(_mm_shuffle_ps(m, m, 1), m);
    ring.largest = largestWithBlock(ring.blockMagnitude, offset / 32, m);
    ring.blockMagnitude[offset / 32] = _mm_cvtss_f32(m);
}

} // namespace

// As SynthesiseStepsBaseline: each step's block is stored just before its
// windowing, since the ring slot of a later step still holds values the
// windowing of the earlier ones reads.
void synthesiseStepsEightLanes(SynthesisState& s, int channel, const float* in, int stepStride, int lineStride,
                               int steps, const float* equalizer, std::int16_t* out, bool stereo)
{
    const DecoderDispatch& d = decoderDispatch();
    const DctCoefficients& coef = dctCoefficients();
    SynthesisRing& ring = s.ring[channel];
    int& offset = s.offset[channel];
    for (int t = 0; t < steps; t += 8) {
        const int count = std::min(8, steps - t);
        Lanes lanes[32];
        gatherLanes(in + t * stepStride, stepStride, lineStride, count, lanes);
        if (equalizer)
            for (int n = 0; n < 32; ++n)
                lanes[n] *= equalizer[n];
        Lanes transformed[32];
        dct32EightLanes(lanes, transformed, coef);
        alignas(32) float blocks[8][32];
        scatterLanes(transformed, blocks);
        for (int k = 0; k < count; ++k) {
            storeRingBlock(ring, offset, blocks[k]);
            if (stereo)
                d.WindowToPcmStereo(s.window, ring, offset, out + 64 * (t + k));
            else
                d.WindowToPcmMono(s.window, ring, offset, out + 32 * (t + k));
            offset = (offset - 32) & 511;
        }
    }
}

} // namespace morvik::mpeg::x86
