// Extended 3DNow! variants, built for AVX2 and FMA (chosen only where the
// processor has both): eight single-precision lanes, products fused with
// their sums. The windowing and the antialias compute what the 3DNow!
// variants compute; the transforms and the hybrid filter are the
// reference's, whose lanes of four subbands become fused vector operations.
#include "compo/mpeg/x86/variants.h"

#include "compo/mpeg/imdctkernels.h"
#include "compo/mpeg/x86/singleprecision.h"

#include <immintrin.h>

namespace morvik::mpeg::x86 {

namespace {

// Each boundary's eight butterflies in one vector each way: the lower
// side loaded and stored reversed by a lane permutation, products fused
// with their sums.
void antialias(float* spectrum, int boundaries)
{
    const AntialiasCoefficients& c = antialiasCoefficients();
    const __m256 cs = _mm256_loadu_ps(c.cs);
    const __m256 ca = _mm256_loadu_ps(c.ca);
    const __m256i reverse = _mm256_set_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    for (int b = 0; b < boundaries; ++b) {
        float* lo = spectrum + 18 * b + 10;  // lo[7 - i] is butterfly i's lower value
        float* hi = spectrum + 18 * (b + 1);
        const __m256 l = _mm256_permutevar8x32_ps(_mm256_loadu_ps(lo), reverse);
        const __m256 h = _mm256_loadu_ps(hi);
        const __m256 newLo = _mm256_fmsub_ps(l, cs, _mm256_mul_ps(h, ca));
        const __m256 newHi = _mm256_fmadd_ps(h, cs, _mm256_mul_ps(l, ca));
        _mm256_storeu_ps(lo, _mm256_permutevar8x32_ps(newLo, reverse));
        _mm256_storeu_ps(hi, newHi);
    }
}

// The windowing in eight lanes: the sixteen values n of each set in two
// vectors, fused multiply-adds over the eight blocks; the odd sums are
// reversed in registers by a lane permutation, the sums formed and rounded by
// the 3DNow! rule (add 0.5, take 1 off where not above 0, truncate) in
// vectors. Mono output is packed to 16 bits with saturation; stereo output
// is blended into every second 16-bit slot over the other channel's.
void windowEightLanes(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out,
                      int step)
{
    const float* w = window.single;
    __m256 a[4][2];
    for (auto& set : a)
        set[0] = set[1] = _mm256_setzero_ps();
    __m128 zero = _mm_setzero_ps();
    for (int i = 0; i < 8; ++i) {
        const float* even = evenBlock(ring.values, offset, i);
        const float* odd = oddBlock(ring.values, offset, i);
        const float* wi = w + 16 * i;
        for (int h = 0; h < 2; ++h) {
            const __m256 e = _mm256_loadu_ps(even + 8 * h);
            const __m256 o = _mm256_loadu_ps(odd + 8 * h);
            a[0][h] = _mm256_fmadd_ps(_mm256_load_ps(wi + 8 * h), e, a[0][h]);
            a[1][h] = _mm256_fmadd_ps(_mm256_load_ps(wi + kWindowSetSize + 8 * h), o, a[1][h]);
            a[2][h] = _mm256_fmadd_ps(_mm256_load_ps(wi + 2 * kWindowSetSize + 8 * h), e, a[2][h]);
            a[3][h] = _mm256_fmadd_ps(_mm256_load_ps(wi + 3 * kWindowSetSize + 8 * h), o, a[3][h]);
        }
        zero = _mm_fmadd_ss(_mm_load_ss(w + kWindowSampleZero + i), _mm_load_ss(odd + 16), zero);
    }
    // Sample j (0..15) subtracts set 1 at 16 - j (the sample-zero sum at
    // j = 0); sample 16 + m adds set 2 at 16 - m to set 3 at m (sample 16 is
    // set 1 at 0 alone, where set 3's coefficient is 0). With the halves
    // permuted to [v0, v7, v6, .., v1], lanes 1..7 of the upper half's are
    // values 15..9 and of the lower half's values 7..1; lane 0 comes from
    // the other half (value 8 of the upper, value 0 of the lower) or is the
    // sample-zero sum.
    const __m256i turn = _mm256_setr_epi32(0, 7, 6, 5, 4, 3, 2, 1);
    const __m256 odd0 = _mm256_permutevar8x32_ps(a[1][0], turn);
    const __m256 odd1 = _mm256_permutevar8x32_ps(a[1][1], turn);
    const __m256 even0 = _mm256_permutevar8x32_ps(a[2][0], turn);
    const __m256 even1 = _mm256_permutevar8x32_ps(a[2][1], turn);
    const __m256 sums[4] = {
        _mm256_sub_ps(a[0][0], _mm256_blend_ps(odd1, _mm256_broadcastss_ps(zero), 1)),
        _mm256_sub_ps(a[0][1], _mm256_blend_ps(odd0, odd1, 1)),
        _mm256_blend_ps(_mm256_add_ps(a[3][0], even1), odd0, 1),
        _mm256_add_ps(a[3][1], _mm256_blend_ps(even0, even1, 1)),
    };
    const __m256 half = _mm256_set1_ps(0.5f);
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 low = _mm256_set1_ps(-32768.0f);
    const __m256 high = _mm256_set1_ps(32767.0f);
    __m256i integers[4];
    for (int k = 0; k < 4; ++k) {
        __m256 v = _mm256_add_ps(sums[k], half);
        const __m256 notAbove = _mm256_cmp_ps(v, _mm256_setzero_ps(), _CMP_NGT_UQ);
        v = _mm256_sub_ps(v, _mm256_and_ps(notAbove, one));
        // max keeps its second operand for a NaN: -32768, as roundHalfAway.
        v = _mm256_min_ps(_mm256_max_ps(v, low), high);
        integers[k] = _mm256_cvttps_epi32(v);
    }
    if (step == 1) {
        // Packing works within 128-bit halves; the permutation puts the
        // samples back in order.
        for (int k = 0; k < 2; ++k) {
            const __m256i packed = _mm256_packs_epi32(integers[2 * k], integers[2 * k + 1]);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16 * k), _mm256_permute4x64_epi64(packed, 0xD8));
        }
        return;
    }
    // The integers are already within 16 bits: the low half of each 32-bit
    // lane is the sample, blended over the other channel's slot.
    for (int k = 0; k < 4; ++k)
        blendIntoEverySecond(integers[k], out, k);
}

void windowMono(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out)
{
    windowEightLanes(window, ring, offset, out, 1);
}

void windowStereo(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out)
{
    windowEightLanes(window, ring, offset, out, 2);
}

} // namespace

DecoderDispatch amdE3DNowVariants()
{
    return {antialias, windowMono, windowStereo, hybridFilterHere, imdct36, imdct12x3};
}

} // namespace morvik::mpeg::x86
