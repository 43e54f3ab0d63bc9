// The sums of the synthesis windowing, shared by the reference windowing and
// the variants. Everything here has internal linkage: each file that
// includes it gets its own copy, built with that file's compile flags, so a
// copy built for AVX2 can never stand in for the baseline one.
//
// Ring and window layout (see SynthesisState): block a of the ring starts at
// (offset + 32 a) mod 512 and never wraps inside. For i = 0..7 the even block
// 2 i is read at its values 16..31 ("even[n]", n = 0..15) and the odd block
// 2 i + 1 at its values 0..16 ("odd[n]"). Output sample
//   0      = sum of set 0 taps at n = 0      - sum of the sample-zero taps on odd[16]
//   j      = sum of set 0 taps at n = j      - sum of set 1 taps at n = 16 - j   (j = 1..15)
//   16     = sum of set 1 taps at n = 0
//   32 - j = sum of set 2 taps at n = j      + sum of set 3 taps at n = 16 - j   (j = 1..15)
// where a set s tap at n of block i is window[128 s + 16 i + n] times even[n]
// (sets 0 and 2) or odd[n] (sets 1 and 3).
#pragma once

#include "compo/mpeg/synthesis.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace morvik::mpeg {
namespace {

template <typename T>
inline const T* evenBlock(const T* ring, int offset, int i)
{
    return ring + ((offset + 64 * i) & 511) + 16;
}

template <typename T>
inline const T* oddBlock(const T* ring, int offset, int i)
{
    return ring + ((offset + 64 * i + 32) & 511);
}

#if defined(__SSE2__)
// The ring's largest magnitude with the newest block's in place of the one
// stored for `block`: the other blocks' magnitudes are read before the new
// one is stored. They are never NaN (the block's magnitude passes a NaN
// over) and never negative, so the order of the comparisons cannot change
// the result.
inline float largestWithBlock(const float (&magnitudes)[16], int block, __m128 newest)
{
    const __m128i index = _mm_setr_epi32(0, 1, 2, 3);
    const __m128i which = _mm_set1_epi32(block);
    __m128 largest = _mm_shuffle_ps(newest, newest, 0);
    for (int q = 0; q < 16; q += 4) {
        const __m128 stored = _mm_load_ps(magnitudes + q);
        const __m128 replaced = _mm_castsi128_ps(_mm_cmpeq_epi32(_mm_add_epi32(index, _mm_set1_epi32(q)), which));
        largest = _mm_max_ps(_mm_andnot_ps(replaced, stored), largest);
    }
    largest = _mm_max_ps(_mm_movehl_ps(largest, largest), largest);
    largest = _mm_max_ss(_mm_shuffle_ps(largest, largest, 1), largest);
    return _mm_cvtss_f32(largest);
}
#endif

// The largest magnitude among the ring's finite values (every block is
// read by each step).
inline float largestMagnitude(const SynthesisRing& ring)
{
    return ring.largest;
}

#if defined(__SSE2__)
// 32 samples into every second 16-bit slot of out (a stereo frame's one
// channel), the other channel's slots kept: four samples a time widened into
// the low halves of 32-bit lanes over the kept high halves. The last four
// are written one by one, so nothing past the 63rd slot is read.
inline void storeEverySecond(const std::int16_t (&samples)[32], std::int16_t* out)
{
    const __m128i keep = _mm_set1_epi32(static_cast<int>(0xFFFF0000u));
    const __m128i zero = _mm_setzero_si128();
    for (int j = 0; j < 28; j += 4) {
        const __m128i four = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples + j));
        __m128i* at = reinterpret_cast<__m128i*>(out + 2 * j);
        const __m128i kept = _mm_and_si128(_mm_loadu_si128(at), keep);
        _mm_storeu_si128(at, _mm_or_si128(kept, _mm_unpacklo_epi16(four, zero)));
    }
    for (int j = 28; j < 32; ++j)
        out[2 * j] = samples[j];
}
#endif

#if defined(__AVX2__)
// Eight samples, the low halves of the 32-bit lanes of `samples`, into every
// second 16-bit slot from out + 16 k (k = 0..3, a stereo frame's one
// channel), the other channel's slots kept. The last eight are blended in
// the high halves over the slots from one before theirs, so that nothing
// past the 63rd slot is read or written.
inline void blendIntoEverySecond(__m256i samples, std::int16_t* out, int k)
{
    if (k < 3) {
        __m256i* at = reinterpret_cast<__m256i*>(out + 16 * k);
        _mm256_storeu_si256(at, _mm256_blend_epi16(_mm256_loadu_si256(at), samples, 0x55));
    } else {
        __m256i* at = reinterpret_cast<__m256i*>(out + 47);
        _mm256_storeu_si256(at, _mm256_blend_epi16(_mm256_loadu_si256(at), _mm256_slli_epi32(samples, 16), 0xAA));
    }
}
#endif

// Where the eight even and eight odd blocks of a step start among the
// ring's widened values.
struct WideBlocks {
    const double* evens[8];
    const double* odds[8];
    WideBlocks(const SynthesisRing& ring, int offset)
    {
        for (int i = 0; i < 8; ++i) {
            evens[i] = evenBlock(ring.wide, offset, i);
            odds[i] = oddBlock(ring.wide, offset, i);
        }
    }
};

// The per-set partial sums acc[s][n] over the eight blocks, and the
// sample-zero sum, in the arithmetic type T (double or float), formed block
// by block in ascending order.
template <typename T>
struct WindowPartials {
    alignas(32) T acc[4][16];
    T sampleZero;
};

// Vectors of `Lanes` values of T (the compiler's generic vectors, which
// become the instructions of the file's flags: SSE2 for two doubles or four
// floats, AVX for four doubles or eight floats).
template <typename T, int Lanes>
struct LaneTypes {
    typedef T Vector __attribute__((vector_size(sizeof(T) * Lanes)));
    typedef float Floats __attribute__((vector_size(sizeof(float) * Lanes)));
};

template <typename T, int Lanes>
inline typename LaneTypes<T, Lanes>::Vector loadLanes(const float* from)
{
    typename LaneTypes<T, Lanes>::Floats f;
    std::memcpy(&f, from, sizeof f);
    return __builtin_convertvector(f, typename LaneTypes<T, Lanes>::Vector);
}

template <typename T, int Lanes>
inline typename LaneTypes<T, Lanes>::Vector loadTaps(const T* from)
{
    typename LaneTypes<T, Lanes>::Vector v;
    std::memcpy(&v, from, sizeof v);
    return v;
}

template <typename T, int Lanes>
inline void windowPartials(const T* window, const float* ring, int offset, WindowPartials<T>& p)
{
    using V = typename LaneTypes<T, Lanes>::Vector;
    // Two vectors of n per set: eight partial sums stay in registers while
    // the eight blocks pass.
    constexpr int Chunk = 2 * Lanes;
    static_assert(16 % Chunk == 0);
    for (int c = 0; c < 16; c += Chunk) {
        V a[4][2] = {};
        for (int i = 0; i < 8; ++i) {
            const float* even = evenBlock(ring, offset, i) + c;
            const float* odd = oddBlock(ring, offset, i) + c;
            const T* w = window + 16 * i + c;
            for (int h = 0; h < 2; ++h) {
                const V e = loadLanes<T, Lanes>(even + h * Lanes);
                const V o = loadLanes<T, Lanes>(odd + h * Lanes);
                a[0][h] += loadTaps<T, Lanes>(w + h * Lanes) * e;
                a[1][h] += loadTaps<T, Lanes>(w + kWindowSetSize + h * Lanes) * o;
                a[2][h] += loadTaps<T, Lanes>(w + 2 * kWindowSetSize + h * Lanes) * e;
                a[3][h] += loadTaps<T, Lanes>(w + 3 * kWindowSetSize + h * Lanes) * o;
            }
        }
        for (int s = 0; s < 4; ++s)
            for (int h = 0; h < 2; ++h)
                std::memcpy(&p.acc[s][c + h * Lanes], &a[s][h], sizeof(V));
    }
    T zero = 0;
    for (int i = 0; i < 8; ++i)
        zero += window[kWindowSampleZero + i] * static_cast<T>(oddBlock(ring, offset, i)[16]);
    p.sampleZero = zero;
}

// The 32 sums from the partials.
template <typename T>
inline void windowSums(const WindowPartials<T>& p, T (&sums)[32])
{
    sums[0] = p.acc[0][0] - p.sampleZero;
    sums[16] = p.acc[1][0];
    for (int j = 1; j < 16; ++j) {
        sums[j] = p.acc[0][j] - p.acc[1][16 - j];
        sums[32 - j] = p.acc[2][j] + p.acc[3][16 - j];
    }
}

inline std::int16_t clip16(long value)
{
    if (value >= 32767)
        return 32767;
    if (value <= -32768)
        return -32768;
    return static_cast<std::int16_t>(value);
}

// The single-precision variants' PCM rounding: add 0.5, take 1 off a result
// that is not above 0, truncate toward zero (halves thus round away from
// zero), saturate to 16 bits.
inline std::int16_t roundHalfAway(float sum)
{
    float v = sum + 0.5f;
    if (!(v > 0.0f))
        v -= 1.0f;
    // Written so that a NaN fails the first test and gives -32768.
    v = v >= -32768.0f ? v : -32768.0f;
    v = v > 32767.0f ? 32767.0f : v;
    return static_cast<std::int16_t>(static_cast<int>(v));
}

#if defined(__SSE2__) && !(defined(__AVX2__) && defined(__FMA__))
// The double-precision partials with SSE2, from the ring's widened values:
// two ring values and two taps per instruction, all loads aligned (every
// run of four starts on a 32-byte boundary of the window and the ring).
inline void windowPartialsDouble(const double* window, const SynthesisRing& ring, int offset,
                                 WindowPartials<double>& p)
{
    const WideBlocks blocks(ring, offset);
    const double* const* evens = blocks.evens;
    const double* const* odds = blocks.odds;
    for (int c = 0; c < 16; c += 4) {
        __m128d a[4][2];
        for (auto& set : a)
            set[0] = set[1] = _mm_setzero_pd();
        for (int i = 0; i < 8; ++i) {
            const double* w = window + 16 * i + c;
            for (int h = 0; h < 2; ++h) {
                const __m128d e = _mm_load_pd(evens[i] + c + 2 * h);
                const __m128d o = _mm_load_pd(odds[i] + c + 2 * h);
                a[0][h] = _mm_add_pd(a[0][h], _mm_mul_pd(_mm_load_pd(w + 2 * h), e));
                a[1][h] = _mm_add_pd(a[1][h], _mm_mul_pd(_mm_load_pd(w + kWindowSetSize + 2 * h), o));
                a[2][h] = _mm_add_pd(a[2][h], _mm_mul_pd(_mm_load_pd(w + 2 * kWindowSetSize + 2 * h), e));
                a[3][h] = _mm_add_pd(a[3][h], _mm_mul_pd(_mm_load_pd(w + 3 * kWindowSetSize + 2 * h), o));
            }
        }
        for (int set = 0; set < 4; ++set)
            for (int h = 0; h < 2; ++h)
                _mm_store_pd(&p.acc[set][c + 2 * h], a[set][h]);
    }
    double zero = 0;
    for (int i = 0; i < 8; ++i)
        zero += window[kWindowSampleZero + i] * odds[i][16];
    p.sampleZero = zero;
}
#endif

#if defined(__SSE2__) && !(defined(__AVX2__) && defined(__FMA__))
// Rounds the 32 sums half to even into 16-bit samples, `step` apart, when
// every sum lies closer than `margin` to its nearest integer; else writes
// nothing and returns false. Needs |sum| < 2^31 for any sum it is to write:
// 1.5 x 2^52 added and taken off rounds in the default mode (the one lrint
// uses), the integral results convert exactly, and the signed saturation of
// the packing is the clipping to -32768..32767.
template <bool branchless>
inline bool roundDecidedSums(const double (&sums)[32], double margin, std::int16_t* out, int step)
{
    const __m128d magic = _mm_set1_pd(0x1.8p52);
    const __m128d limit = _mm_set1_pd(margin);
    const __m128d signBits = _mm_set1_pd(-0.0);
    __m128d undecided = _mm_setzero_pd();
    __m128i pcm[4];
    alignas(16) std::int32_t integers[32];
    for (int k = 0; k < 4; ++k) {
        __m128i words[2];
        for (int h = 0; h < 2; ++h) {
            const __m128d lo = _mm_loadu_pd(sums + 8 * k + 4 * h);
            const __m128d hi = _mm_loadu_pd(sums + 8 * k + 4 * h + 2);
            const __m128d rlo = _mm_sub_pd(_mm_add_pd(lo, magic), magic);
            const __m128d rhi = _mm_sub_pd(_mm_add_pd(hi, magic), magic);
            // NaN distances compare false and so count as undecided.
            undecided = _mm_or_pd(undecided, _mm_cmpnlt_pd(_mm_andnot_pd(signBits, _mm_sub_pd(lo, rlo)), limit));
            undecided = _mm_or_pd(undecided, _mm_cmpnlt_pd(_mm_andnot_pd(signBits, _mm_sub_pd(hi, rhi)), limit));
            words[h] = _mm_unpacklo_epi64(_mm_cvtpd_epi32(rlo), _mm_cvtpd_epi32(rhi));
            if constexpr (!branchless)
                _mm_store_si128(reinterpret_cast<__m128i*>(integers + 8 * k + 4 * h), words[h]);
        }
        pcm[k] = _mm_packs_epi32(words[0], words[1]);
    }
    if (_mm_movemask_pd(undecided) != 0)
        return false;
    if constexpr (!branchless) {
        for (int j = 0; j < 32; ++j)
            out[j * step] = clip16(integers[j]);
        return true;
    }
    if (step == 1) {
        for (int k = 0; k < 4; ++k)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * k), pcm[k]);
        return true;
    }
    alignas(16) std::int16_t samples[32];
    for (int k = 0; k < 4; ++k)
        _mm_store_si128(reinterpret_cast<__m128i*>(samples + 8 * k), pcm[k]);
    storeEverySecond(samples, out);
    return true;
}
#elif !defined(__SSE2__)
template <bool branchless>
inline bool roundDecidedSums(const double (&sums)[32], double margin, std::int16_t* out, int step)
{
    long rounded[32];
    for (int j = 0; j < 32; ++j) {
        rounded[j] = std::lrint(sums[j]);
        if (!(std::fabs(sums[j] - static_cast<double>(rounded[j])) < margin))
            return false;
    }
    for (int j = 0; j < 32; ++j)
        out[j * step] = clip16(rounded[j]);
    return true;
}
#endif

#if !defined(__SSE2__)
inline void windowPartialsDouble(const double* window, const SynthesisRing& ring, int offset,
                                 WindowPartials<double>& p)
{
    windowPartials<double, 2>(window, ring.values, offset, p);
}
#endif

// The shortcut of the reference windowing (and of the Pentium-class ones,
// which give the reference's samples too): the same sums in double
// precision, two or four per instruction, with the extended sums of the
// plain kernel taken only where the double sums cannot decide a sample.
//
// Why the samples are the same. Every tap is a product that a double holds
// exactly (a coefficient has at most 17 significant bits, a ring value 24),
// so both ways sum the same 16 (or 8) exact terms t_k; only
// the additions round. For S the exact sum, A = sum |t_k|, and any order of
// at most 15 additions, the double sum D has |D - S| <= 15 u / (1 - 15 u) A
// with u = 2^-53, and the extended sum E (8 additions, then one subtraction)
// has |E - S| <= 9 v / (1 - 9 v) A with v = 2^-64; together less than
// 2^-49 A. With M the largest magnitude of the ring's values, A <= M x
// magnitudeBound, so B = 2^-48 M magnitudeBound bounds |D - E| with a factor
// 2 to spare for the rounding of B itself. Let r be D rounded to an integer;
// D - r is exact (|D| < 2^52). If |D - r| < 0.5 - B, then |E - r| < 0.5:
// E lies strictly inside r's rounding interval, is no tie, and rounds to r
// as the reference rounds it; the clipping of r is the same. Any sample that
// fails this test takes the plain kernel for the whole step, and so does a
// ring with a value of magnitude 2^24 or more (or an infinity). A NaN in
// the ring makes every sum it enters a NaN, which fails the test; the sums
// it does not enter are still bounded by the M of the other values. For
// decoded audio the test fails about once in 10^9 samples; tests compare
// both kernels bit for bit on every conformance stream.
constexpr float kLargestDecided = 0x1p24f;

// Writes the 32 samples and returns true when the double sums decide every
// one of them; otherwise writes nothing. `branchless` clips by saturation,
// else by compare and branch; both give the same samples.
#if defined(__AVX512F__) && defined(__FMA__)
// The decided sums in eight double lanes (for files built for AVX-512): as
// the four-lane form below, each partial formed block by block in the same
// order with fused multiply-adds, all sixteen values of a set in two
// registers, so every sum is the same double.
template <bool branchless>
inline bool windowDecidedSums(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out,
                              int step)
{
    const float largest = largestMagnitude(ring);
    if (!(largest < kLargestDecided))
        return false;
    const WideBlocks blocks(ring, offset);
    const double* taps = window.taps;
    __m512d acc[4][2];
    for (auto& set : acc)
        set[0] = set[1] = _mm512_setzero_pd();
    // The sample-zero sum is a chain of dependent steps: formed beside the
    // others, it does not hold up the end.
    __m128d zero = _mm_setzero_pd();
    for (int i = 0; i < 8; ++i) {
        const double* w = taps + 16 * i;
        for (int h = 0; h < 2; ++h) {
            const __m512d e = _mm512_loadu_pd(blocks.evens[i] + 8 * h);
            const __m512d o = _mm512_loadu_pd(blocks.odds[i] + 8 * h);
            acc[0][h] = _mm512_fmadd_pd(_mm512_loadu_pd(w + 8 * h), e, acc[0][h]);
            acc[1][h] = _mm512_fmadd_pd(_mm512_loadu_pd(w + kWindowSetSize + 8 * h), o, acc[1][h]);
            acc[2][h] = _mm512_fmadd_pd(_mm512_loadu_pd(w + 2 * kWindowSetSize + 8 * h), e, acc[2][h]);
            acc[3][h] = _mm512_fmadd_pd(_mm512_loadu_pd(w + 3 * kWindowSetSize + 8 * h), o, acc[3][h]);
        }
        zero = _mm_fmadd_sd(_mm_load_sd(taps + kWindowSampleZero + i), _mm_load_sd(blocks.odds[i] + 16), zero);
    }
    // Sample j (0..15) subtracts set 1 at 16 - j (the sample-zero sum at
    // j = 0); sample 16 + m adds set 2 at 16 - m to set 3 at m (sample 16 is
    // set 1 at 0 alone). A half permuted to [v0, v7, v6, .., v1] gives lanes
    // 1..7 of its reversal; lane 0 is kept from the other half (value 8 of
    // the upper, value 0 of the lower) or is the sample-zero sum.
    const __m512i turn = _mm512_setr_epi64(0, 7, 6, 5, 4, 3, 2, 1);
    const __m512d zeros = _mm512_set1_pd(_mm_cvtsd_f64(zero));
    const __m512d sums[4] = {
        _mm512_sub_pd(acc[0][0], _mm512_mask_permutexvar_pd(zeros, 0xFE, turn, acc[1][1])),
        _mm512_sub_pd(acc[0][1], _mm512_mask_permutexvar_pd(acc[1][1], 0xFE, turn, acc[1][0])),
        _mm512_mask_blend_pd(1, _mm512_add_pd(acc[3][0], _mm512_maskz_permutexvar_pd(0xFF, turn, acc[2][1])),
                             acc[1][0]),
        _mm512_add_pd(acc[3][1], _mm512_mask_permutexvar_pd(acc[2][1], 0xFE, turn, acc[2][0])),
    };
    // Rounded and decided as in the four-lane form.
    const double margin = 0.5 - static_cast<double>(largest) * window.magnitudeBound * 0x1p-48;
    const __m512d magic = _mm512_set1_pd(0x1.8p52);
    const __m512d limit = _mm512_set1_pd(margin);
    __mmask8 undecided = 0;
    __m256i integers[4];
    for (int k = 0; k < 4; ++k) {
        const __m512d r = _mm512_sub_pd(_mm512_add_pd(sums[k], magic), magic);
        // NaN distances compare unordered and so count as undecided.
        undecided |= _mm512_cmp_pd_mask(_mm512_abs_pd(_mm512_sub_pd(sums[k], r)), limit, _CMP_NLT_UQ);
        integers[k] = _mm512_maskz_cvtpd_epi32(0xFF, r);
    }
    if (undecided != 0)
        return false;
    if constexpr (!branchless) {
        alignas(32) std::int32_t values[32];
        for (int k = 0; k < 4; ++k)
            _mm256_store_si256(reinterpret_cast<__m256i*>(values + 8 * k), integers[k]);
        for (int j = 0; j < 32; ++j)
            out[j * step] = clip16(values[j]);
        return true;
    }
    // The signed saturation of the packing is the clipping to 16 bits.
    for (int k = 0; k < 4; ++k) {
        const __m128i samples =
            _mm_packs_epi32(_mm256_castsi256_si128(integers[k]), _mm256_extracti128_si256(integers[k], 1));
        if (step == 1) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * k), samples);
        } else {
            blendIntoEverySecond(_mm256_cvtepu16_epi32(samples), out, k);
        }
    }
    return true;
}
#elif defined(__AVX2__) && defined(__FMA__)
// The decided sums in four double lanes with fused multiply-adds (for files
// built for AVX2 and FMA): a fused step adds an exact product with one
// rounding, so the error rule of the plain additions holds unchanged. The
// partials stay in registers (the first eight values of each set pass
// through aligned stack slots of their own size); the odd sums are reversed
// by lane permutations, and each sum is the same single subtraction or
// addition as windowSums forms (the order of an addition's operands changes
// nothing).
template <bool branchless>
inline bool windowDecidedSums(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out,
                              int step)
{
    const float largest = largestMagnitude(ring);
    if (!(largest < kLargestDecided))
        return false;
    const WideBlocks blocks(ring, offset);
    const double* taps = window.taps;
    // acc[set][q]: the partial sums of values 4 q .. 4 q + 3.
    __m256d acc[4][4];
    // The sample-zero sum is a chain of dependent steps: formed beside the
    // others, it does not hold up the end.
    __m128d zero = _mm_setzero_pd();
    for (int c = 0; c < 16; c += 8) {
        __m256d a[4][2];
        for (auto& set : a)
            set[0] = set[1] = _mm256_setzero_pd();
        for (int i = 0; i < 8; ++i) {
            const double* w = taps + 16 * i + c;
            for (int h = 0; h < 2; ++h) {
                const __m256d e = _mm256_load_pd(blocks.evens[i] + c + 4 * h);
                const __m256d o = _mm256_load_pd(blocks.odds[i] + c + 4 * h);
                a[0][h] = _mm256_fmadd_pd(_mm256_load_pd(w + 4 * h), e, a[0][h]);
                a[1][h] = _mm256_fmadd_pd(_mm256_load_pd(w + kWindowSetSize + 4 * h), o, a[1][h]);
                a[2][h] = _mm256_fmadd_pd(_mm256_load_pd(w + 2 * kWindowSetSize + 4 * h), e, a[2][h]);
                a[3][h] = _mm256_fmadd_pd(_mm256_load_pd(w + 3 * kWindowSetSize + 4 * h), o, a[3][h]);
            }
            if (c == 0)
                zero = _mm_fmadd_sd(_mm_load_sd(taps + kWindowSampleZero + i), _mm_load_sd(blocks.odds[i] + 16), zero);
        }
        for (int set = 0; set < 4; ++set)
            for (int h = 0; h < 2; ++h)
                acc[set][c / 4 + h] = a[set][h];
    }
    // Sample j (0..15) subtracts set 1 at 16 - j (the sample-zero sum at
    // j = 0); sample 16 + m adds set 2 at 16 - m to set 3 at m (sample 16 is
    // set 1 at 0 alone). A run of four permuted to [v0, v3, v2, v1] gives
    // lanes 1..3 of the reversed run below it; lane 0 comes from the run
    // above (or is the sample-zero sum).
    __m256d odd[4], even[4];
    for (int q = 0; q < 4; ++q) {
        odd[q] = _mm256_permute4x64_pd(acc[1][q], 0x6C);
        even[q] = _mm256_permute4x64_pd(acc[2][q], 0x6C);
    }
    __m256d sums[8];
    sums[0] = _mm256_sub_pd(acc[0][0], _mm256_blend_pd(odd[3], _mm256_broadcastsd_pd(zero), 1));
    sums[4] = _mm256_blend_pd(_mm256_add_pd(acc[3][0], even[3]), odd[0], 1);
    for (int q = 1; q < 4; ++q) {
        sums[q] = _mm256_sub_pd(acc[0][q], _mm256_blend_pd(odd[3 - q], odd[4 - q], 1));
        sums[4 + q] = _mm256_add_pd(acc[3][q], _mm256_blend_pd(even[3 - q], even[4 - q], 1));
    }
    // Rounded half to even (1.5 x 2^52 added and taken off, in the default
    // mode, which lrint uses; |sum| < 2^31 for a sum that is written), and
    // decided when every distance to the rounded value is below the margin.
    const double margin = 0.5 - static_cast<double>(largest) * window.magnitudeBound * 0x1p-48;
    const __m256d magic = _mm256_set1_pd(0x1.8p52);
    const __m256d limit = _mm256_set1_pd(margin);
    const __m256d signBits = _mm256_set1_pd(-0.0);
    __m256d undecided = _mm256_setzero_pd();
    __m128i integers[8];
    for (int k = 0; k < 8; ++k) {
        const __m256d r = _mm256_sub_pd(_mm256_add_pd(sums[k], magic), magic);
        // NaN distances compare unordered and so count as undecided.
        undecided = _mm256_or_pd(
            undecided, _mm256_cmp_pd(_mm256_andnot_pd(signBits, _mm256_sub_pd(sums[k], r)), limit, _CMP_NLT_UQ));
        integers[k] = _mm256_cvtpd_epi32(r);
    }
    if (_mm256_movemask_pd(undecided) != 0)
        return false;
    if constexpr (!branchless) {
        alignas(16) std::int32_t values[32];
        for (int k = 0; k < 8; ++k)
            _mm_store_si128(reinterpret_cast<__m128i*>(values + 4 * k), integers[k]);
        for (int j = 0; j < 32; ++j)
            out[j * step] = clip16(values[j]);
        return true;
    }
    // The signed saturation of the packing is the clipping to 16 bits.
    for (int k = 0; k < 4; ++k) {
        const __m128i samples = _mm_packs_epi32(integers[2 * k], integers[2 * k + 1]);
        if (step == 1) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * k), samples);
        } else {
            blendIntoEverySecond(_mm256_cvtepu16_epi32(samples), out, k);
        }
    }
    return true;
}
#else
template <bool branchless>
inline bool windowDecidedSums(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out,
                              int step)
{
    const float largest = largestMagnitude(ring);
    if (!(largest < kLargestDecided))
        return false;
    WindowPartials<double> partials;
    windowPartialsDouble(window.taps, ring, offset, partials);
    double sums[32];
    windowSums(partials, sums);
    const double margin = 0.5 - static_cast<double>(largest) * window.magnitudeBound * 0x1p-48;
    return roundDecidedSums<branchless>(sums, margin, out, step);
}
#endif

// The reference's samples: the decided double sums, else the plain
// extended-precision kernel for the whole step.
template <bool branchless>
inline void windowExactly(const SynthesisWindow& window, const SynthesisRing& ring, int offset, std::int16_t* out,
                          int step)
{
    if (windowDecidedSums<branchless>(window, ring, offset, out, step))
        return;
    if (step == 1)
        WindowToPcmMonoPlain(window, ring, offset, out);
    else
        WindowToPcmStereoPlain(window, ring, offset, out);
}

} // namespace
} // namespace morvik::mpeg
