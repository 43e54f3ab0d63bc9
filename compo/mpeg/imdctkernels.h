// The transforms and the hybrid filter of the Layer III synthesis, shared by
// the reference routines and the variants. Everything here has internal
// linkage: each file that includes it gets its own copy, built with that
// file's compile flags, so a copy built for AVX2 can never stand in for the
// baseline one.
#pragma once

#include "compo/mpeg/imdct.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <numbers>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace morvik::mpeg {

namespace {

constexpr double kPi = std::numbers::pi;

struct ImdctTables {
    float window[4][36];
    float preTwiddle36[18];  // 2 cos((2n + 1) pi / 72)
    float oddTwiddle18[9];  // 2 cos((2n + 1) pi / 36)
    float dct9[9][4];  // cos(pi (2n + 1) m / 18), [m][n < 4]
    float dct6[6][6];  // cos(pi (2n + 1) (2k + 1) / 24), [k][n]
    // The 36-point transform's factors four times over, one per lane of
    // imdct36Lanes, so that four subbands form plain vector operations.
    alignas(16) float preTwiddleLanes[18][4];
    alignas(16) float oddTwiddleLanes[9][4];
    alignas(16) float dct9Lanes[9][4][4];

    ImdctTables()
    {
        auto w = [](int n) { return std::sin(kPi / 36 * (n + 0.5)); };
        auto v = [](int n) { return std::sin(kPi / 12 * (n + 0.5)); };
        for (int n = 0; n < 36; ++n) {
            window[0][n] = static_cast<float>(w(n));
            window[1][n] = static_cast<float>(n < 18 ? w(n) : n < 24 ? 1.0 : n < 30 ? v(n - 18) : 0.0);
            window[2][n] = static_cast<float>(n < 12 ? v(n) : 0.0);
            window[3][n] = static_cast<float>(n < 6 ? 0.0 : n < 12 ? v(n - 6) : n < 18 ? 1.0 : w(n));
        }
        for (int type : {0, 1, 3})
            for (int n = 9; n < 36; ++n)
                window[type][n] = -window[type][n];
        for (int n = 3; n < 12; ++n)
            window[2][n] = -window[2][n];
        for (int n = 0; n < 18; ++n)
            preTwiddle36[n] = static_cast<float>(2 * std::cos((2 * n + 1) * kPi / 72));
        for (int n = 0; n < 9; ++n)
            oddTwiddle18[n] = static_cast<float>(2 * std::cos((2 * n + 1) * kPi / 36));
        for (int m = 0; m < 9; ++m)
            for (int n = 0; n < 4; ++n)
                dct9[m][n] = static_cast<float>(std::cos(kPi * (2 * n + 1) * m / 18));
        for (int k = 0; k < 6; ++k)
            for (int n = 0; n < 6; ++n)
                dct6[k][n] = static_cast<float>(std::cos(kPi * (2 * n + 1) * (2 * k + 1) / 24));
        for (int lane = 0; lane < 4; ++lane) {
            for (int n = 0; n < 18; ++n)
                preTwiddleLanes[n][lane] = preTwiddle36[n];
            for (int n = 0; n < 9; ++n)
                oddTwiddleLanes[n][lane] = oddTwiddle18[n];
            for (int m = 0; m < 9; ++m)
                for (int n = 0; n < 4; ++n)
                    dct9Lanes[m][n][lane] = dct9[m][n];
        }
    }
};

inline const ImdctTables& tables()
{
    static const ImdctTables t;
    return t;
}

// Four floats as one value of the compiler's generic vectors: each
// operator acts lane by lane with the single-precision operation of one
// float, so four subbands side by side see exactly the operations of one.
typedef float FourLanes __attribute__((vector_size(16)));

// A factor of the transforms as the lane type V holds it: one float, or the
// same float four times over (the tables keep it so, aligned, so that its
// load folds into the arithmetic).
template <typename V>
inline V factor(const float (&four)[4])
{
    if constexpr (sizeof(V) == sizeof(float)) {
        return four[0];
    } else if constexpr (sizeof(V) == sizeof four) {
        V v;
        __builtin_memcpy(&v, four, sizeof v);
        return v;
    } else {
#if defined(__AVX__)
        static_assert(sizeof(V) == sizeof(__m256));
        return _mm256_broadcast_ss(four);
#else
        static_assert(sizeof(V) == 0, "wider lanes are built only for AVX");
#endif
    }
}

// 9-point DCT-II, X[m] = sum g[n] cos(pi (2n + 1) m / 18), of the lanes of
// V. Inputs n and 8 - n share their cosines up to the sign (-1)^m, and the
// middle input contributes only to even m, so a 9 x 4 matrix suffices.
template <typename V>
inline void dct9(const float (&matrix)[9][4][4], const V (&g)[9], V (&out)[9])
{
    V sum[4], diff[4];
    for (int n = 0; n < 4; ++n) {
        sum[n] = g[n] + g[8 - n];
        diff[n] = g[n] - g[8 - n];
    }
    for (int m = 0; m < 9; m += 2) {
        const V middle = (m & 2) ? -g[4] : g[4];
        out[m] = factor<V>(matrix[m][0]) * sum[0] + factor<V>(matrix[m][1]) * sum[1] +
                 factor<V>(matrix[m][2]) * sum[2] + factor<V>(matrix[m][3]) * sum[3] + middle;
    }
    for (int m = 1; m < 9; m += 2)
        out[m] = factor<V>(matrix[m][0]) * diff[0] + factor<V>(matrix[m][1]) * diff[1] +
                 factor<V>(matrix[m][2]) * diff[2] + factor<V>(matrix[m][3]) * diff[3];
}

// The 36-point transform of the lanes of V (line n at x[n]), in place.
template <typename V>
void imdct36Lanes(V (&x)[18])
{
    const ImdctTables& t = tables();
    V a[18];
    for (int n = 0; n < 18; ++n)
        a[n] = x[n] * factor<V>(t.preTwiddleLanes[n]);
    V g[9], h[9], even[9], odd[9];
    for (int n = 0; n < 9; ++n) {
        g[n] = a[n] + a[17 - n];
        h[n] = (a[n] - a[17 - n]) * factor<V>(t.oddTwiddleLanes[n]);
    }
    dct9(t.dct9Lanes, g, even);
    dct9(t.dct9Lanes, h, odd);
    // DCT-II of a: X[2m] = even[m]; X[2m + 1] = odd[m] - X[2m - 1].
    V X[18];
    V previous = odd[0] * 0.5f;
    for (int m = 0; m < 9; ++m) {
        if (m > 0)
            previous = odd[m] - previous;
        X[2 * m] = even[m];
        X[2 * m + 1] = previous;
    }
    // DCT-IV from the pre-twiddled DCT-II: y[n] = X[n] - y[n - 1].
    V y = X[0] * 0.5f;
    x[0] = y;
    for (int n = 1; n < 18; ++n) {
        y = X[n] - y;
        x[n] = y;
    }
}

// Value n of the subbands from `from` on (18 apart) into lanes[n], and
// back: one subband as floats, or four with vector transposes where the
// processor has them. Only values move.
inline void gatherSubbands(const float* from, float (&lanes)[18])
{
    for (int n = 0; n < 18; ++n)
        lanes[n] = from[n];
}

inline void scatterSubbands(const float (&lanes)[18], float* to)
{
    for (int n = 0; n < 18; ++n)
        to[n] = lanes[n];
}

inline void gatherSubbands(const float* from, FourLanes (&lanes)[18])
{
    int n = 0;
#if defined(__SSE2__)
    for (; n < 16; n += 4) {
        __m128 v[4];
        for (int k = 0; k < 4; ++k)
            v[k] = _mm_loadu_ps(from + 18 * k + n);
        _MM_TRANSPOSE4_PS(v[0], v[1], v[2], v[3]);
        for (int i = 0; i < 4; ++i)
            lanes[n + i] = v[i];
    }
#endif
    for (; n < 18; ++n)
        lanes[n] = FourLanes{from[n], from[18 + n], from[2 * 18 + n], from[3 * 18 + n]};
}

inline void scatterSubbands(const FourLanes (&lanes)[18], float* to)
{
    int n = 0;
#if defined(__SSE2__)
    for (; n < 16; n += 4) {
        __m128 v[4];
        for (int i = 0; i < 4; ++i)
            v[i] = lanes[n + i];
        _MM_TRANSPOSE4_PS(v[0], v[1], v[2], v[3]);
        for (int k = 0; k < 4; ++k)
            _mm_storeu_ps(to + 18 * k + n, v[k]);
    }
#endif
    for (; n < 18; ++n)
        for (int k = 0; k < 4; ++k)
            to[18 * k + n] = lanes[n][k];
}

#if defined(__AVX__)
// Eight subbands side by side, where the file is built for AVX: the same
// lane-by-lane operations on twice the lanes.
typedef float EightLanes __attribute__((vector_size(32)));

// The 8 x 8 floats of v transposed in place: row k, value i to row i,
// value k.
inline void transpose8(__m256 (&v)[8])
{
    __m256 t[8], u[8];
    for (int k = 0; k < 8; k += 2) {
        t[k] = _mm256_unpacklo_ps(v[k], v[k + 1]);
        t[k + 1] = _mm256_unpackhi_ps(v[k], v[k + 1]);
    }
    for (int k = 0; k < 8; k += 4) {
        u[k] = _mm256_shuffle_ps(t[k], t[k + 2], 0x44);
        u[k + 1] = _mm256_shuffle_ps(t[k], t[k + 2], 0xEE);
        u[k + 2] = _mm256_shuffle_ps(t[k + 1], t[k + 3], 0x44);
        u[k + 3] = _mm256_shuffle_ps(t[k + 1], t[k + 3], 0xEE);
    }
    for (int k = 0; k < 4; ++k) {
        v[k] = _mm256_permute2f128_ps(u[k], u[k + 4], 0x20);
        v[k + 4] = _mm256_permute2f128_ps(u[k], u[k + 4], 0x31);
    }
}

// Values 0..7, 8..15 and 10..17 of the eight subbands are transposed as
// 8 x 8 blocks; the last block overlaps the second, whose values it repeats.
constexpr int kEightLaneStarts[3] = {0, 8, 10};

inline void gatherSubbands(const float* from, EightLanes (&lanes)[18])
{
    for (const int n : kEightLaneStarts) {
        __m256 v[8];
        for (int k = 0; k < 8; ++k)
            v[k] = _mm256_loadu_ps(from + 18 * k + n);
        transpose8(v);
        for (int i = 0; i < 8; ++i)
            lanes[n + i] = v[i];
    }
}

inline void scatterSubbands(const EightLanes (&lanes)[18], float* to)
{
    for (const int n : kEightLaneStarts) {
        __m256 v[8];
        for (int i = 0; i < 8; ++i)
            v[i] = lanes[n + i];
        transpose8(v);
        for (int k = 0; k < 8; ++k)
            _mm256_storeu_ps(to + 18 * k + n, v[k]);
    }
}
#endif

// The lanes of V at `at` (one subband's value of a row of the block), and
// back.
template <typename V>
inline V loadRow(const float* at)
{
    V v;
    __builtin_memcpy(&v, at, sizeof v);
    return v;
}

template <typename V>
inline void storeRow(float* at, V v)
{
    __builtin_memcpy(at, &v, sizeof v);
}

// Window and overlap-add of the transformed subbands s .. (y[n], one per
// lane of V); overlapIn and overlapOut point at subband s.
template <bool add, typename V>
void windowLongSubbands(const V (&y)[18], const float* window, const float* overlapIn, float* block,
                        float* overlapOut, int s)
{
    V previous[18];
    gatherSubbands(overlapIn, previous);
    for (int t = 0; t < 9; ++t) {
        float* low = block + 32 * t + s;
        float* high = block + 32 * (t + 9) + s;
        const V a = previous[t] + window[t] * y[t + 9];
        const V b = previous[t + 9] + window[t + 9] * y[17 - t];
        storeRow(low, add ? loadRow<V>(low) + a : a);
        storeRow(high, add ? loadRow<V>(high) + b : b);
    }
    V next[18];
    for (int t = 0; t < 9; ++t) {
        next[t] = window[t + 18] * y[8 - t];
        next[t + 9] = window[t + 27] * y[t];
    }
    if constexpr (add) {
        V out[18];
        gatherSubbands(overlapOut, out);
        for (int t = 0; t < 18; ++t)
            next[t] = out[t] + next[t];
    }
    scatterSubbands(next, overlapOut);
}

// Long-block subbands s .. (one per lane of V): 36-point transform, window,
// overlap-add. spectrum, overlapIn and overlapOut point at subband s; the
// spectrum may be the overlap output, as it is read first.
template <bool add, typename V = float>
void longBlockSubbands(const float* spectrum, const float* window, const float* overlapIn, float* block,
                       float* overlapOut, int s)
{
    V y[18];
    gatherSubbands(spectrum, y);
    imdct36Lanes(y);
    windowLongSubbands<add>(y, window, overlapIn, block, overlapOut, s);
}

// The three 12-point transforms, in place: x[3 i + w] -> window w's 6-point
// DCT-IV at 6 w .. 6 w + 5.
inline void imdct12x3(float* x)
{
    const ImdctTables& t = tables();
    float in[18];
    for (int n = 0; n < 18; ++n)
        in[n] = x[n];
    for (int w = 0; w < 3; ++w)
        for (int k = 0; k < 6; ++k) {
            float sum = 0.0f;
            for (int i = 0; i < 6; ++i)
                sum += t.dct6[k][i] * in[3 * i + w];
            x[6 * w + k] = sum;
        }
}

// Short-block subband: three 12-point transforms (by `transform`), window,
// overlap-add.
template <bool add>
void shortSubband(const float* spectrum, const float* window, const float* overlapIn, float* block,
                  float* overlapOut, int s, void (*transform)(float*))
{
    float y[18];
    for (int n = 0; n < 18; ++n)
        y[n] = spectrum[n];
    transform(y);
    // z[w][i]: window w's 12 windowed outputs.
    float z[3][12];
    for (int w = 0; w < 3; ++w) {
        const float* yw = y + 6 * w;
        for (int i = 0; i < 3; ++i)
            z[w][i] = window[i] * yw[i + 3];
        for (int i = 3; i < 9; ++i)
            z[w][i] = window[i] * yw[8 - i];
        for (int i = 9; i < 12; ++i)
            z[w][i] = window[i] * yw[i - 9];
    }
    float out[18];
    float next[18];
    for (int t = 0; t < 6; ++t) {
        out[t] = overlapIn[t];
        out[t + 6] = overlapIn[t + 6] + z[0][t];
        out[t + 12] = overlapIn[t + 12] + z[0][t + 6] + z[1][t];
        next[t] = z[1][t + 6] + z[2][t];
        next[t + 6] = z[2][t + 6];
        next[t + 12] = 0.0f;
    }
    for (int t = 0; t < 18; ++t) {
        block[32 * t + s] = add ? block[32 * t + s] + out[t] : out[t];
        overlapOut[t] = add ? overlapOut[t] + next[t] : next[t];
    }
}

// The two lowest subbands of a granule with the mixed-block flag use the
// normal window whatever the block type; a short granule's long part does too.
inline const float* longWindowFor(const ImdctTables& t, int blockType, int subband)
{
    const int type = blockType & 3;
    if (type == 2 || ((blockType & kMixedBlockBit) && subband < 2))
        return t.window[0];
    return t.window[type];
}

inline void imdct36(float* x)
{
    float lanes[18];
    for (int n = 0; n < 18; ++n)
        lanes[n] = x[n];
    imdct36Lanes(lanes);
    for (int n = 0; n < 18; ++n)
        x[n] = lanes[n];
}

// Whether the last two or three long subbands of a hybrid filter form a
// partial group of four. Not where the compiler may fuse a product and a
// sum (builds with FMA): there a subband's rounding depends on the path it
// takes, and each keeps the path that the variant's output was set by.
#if defined(__FMA__)
constexpr bool kPartialGroups = false;
#else
constexpr bool kPartialGroups = true;
#endif

// The hybrid filter with this file's transforms: eight long subbands at a
// time where the file is built for AVX, else four, where they share a
// window; the short part through `shortTransform`.
// In a partial group the lanes above the last long subband read the lines
// and the overlap of the next subbands (s + 4 <= 32 keeps them inside the
// arrays), write block columns that are written again below, and leave
// their overlap in a scratch array, so the next subbands' lines stay as they
// were. Lanes do not mix, so each subband gets the values it gets alone.
inline int hybridFilter(float* current, const float* previous, float* block, int blockType, int longLines,
                        int allLines, int overlapLines, int subbands, void (*shortTransform)(float*))
{
    const ImdctTables& t = tables();
    const int longSubbands = (longLines + 17) / 18;
    const int allSubbands = (allLines + 17) / 18;
    const int overlapSubbands = (overlapLines + 17) / 18;
    int s = 0;
    for (const int end = std::min(longSubbands, subbands); s < end;) {
        const float* window = longWindowFor(t, blockType, s);
#if defined(__AVX__)
        // Up to eight subbands at a time where they share the window, a
        // partial group as the partial groups of four below.
        const int wide = std::min(end - s, 8);
        if (wide >= 2 && s + 8 <= 32 && longWindowFor(t, blockType, s + wide - 1) == window) {
            alignas(32) float scratch[8 * 18];
            float* overlapOut = wide == 8 ? current + 18 * s : scratch;
            longBlockSubbands<false, EightLanes>(current + 18 * s, window, previous + 18 * s, block, overlapOut,
                                                 s);
            if (wide < 8)
                std::copy(scratch, scratch + 18 * wide, current + 18 * s);
            s += wide;
            continue;
        }
#endif
        // The windows change only above subband 1, so a group shares the
        // window when its first and last subbands do.
        const int count = kPartialGroups ? std::min(end - s, 4) : s + 4 <= end ? 4 : 0;
        if (count >= 2 && s + 4 <= 32 && longWindowFor(t, blockType, s + count - 1) == window) {
            alignas(16) float scratch[4 * 18];
            float* overlapOut = count == 4 ? current + 18 * s : scratch;
            longBlockSubbands<false, FourLanes>(current + 18 * s, window, previous + 18 * s, block, overlapOut, s);
            if (count < 4)
                std::copy(scratch, scratch + 18 * count, current + 18 * s);
            s += count;
        } else {
            longBlockSubbands<false>(current + 18 * s, window, previous + 18 * s, block, current + 18 * s, s);
            ++s;
        }
    }
    for (; s < allSubbands && s < subbands; ++s)
        shortSubband<false>(current + 18 * s, t.window[2], previous + 18 * s, block, current + 18 * s, s,
                            shortTransform);
    for (; s < overlapSubbands && s < subbands; ++s) {
        for (int k = 0; k < 18; ++k) {
            block[32 * k + s] = previous[18 * s + k];
            current[18 * s + k] = 0.0f;
        }
    }
    // The silent subbands, row by row: each row's part is contiguous.
    for (int k = 0; k < 18; ++k)
        std::fill(block + 32 * k + s, block + 32 * k + 32, 0.0f);
    return 18 * s;
}

// The hybrid filter with this file's own 12-point transform.
inline int hybridFilterHere(float* current, const float* previous, float* block, int blockType, int longLines,
                            int allLines, int overlapLines, int subbands)
{
    return hybridFilter(current, previous, block, blockType, longLines, allLines, overlapLines, subbands, imdct12x3);
}

} // namespace

} // namespace morvik::mpeg
