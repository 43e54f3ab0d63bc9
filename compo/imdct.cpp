#include "compo/imdct.h"

#include "compo/dispatch.h"

#include <cmath>
#include <initializer_list>
#include <numbers>

namespace morvik::mpeg {

namespace {

constexpr double kPi = std::numbers::pi;

struct ImdctTables {
    float window[4][36];
    float preTwiddle36[18];  // 2 cos((2n + 1) pi / 72)
    float oddTwiddle18[9];  // 2 cos((2n + 1) pi / 36)
    float dct9[9][4];  // cos(pi (2n + 1) m / 18), [m][n < 4]
    float dct6[6][6];  // cos(pi (2n + 1) (2k + 1) / 24), [k][n]

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
    }
};

const ImdctTables& tables()
{
    static const ImdctTables t;
    return t;
}

// 9-point DCT-II, X[m] = sum g[n] cos(pi (2n + 1) m / 18). Inputs n and
// 8 - n share their cosines up to the sign (-1)^m, and the middle input
// contributes only to even m, so a 9 x 4 matrix suffices.
inline void dct9(const float (&matrix)[9][4], const float* g, float* out)
{
    float sum[4], diff[4];
    for (int n = 0; n < 4; ++n) {
        sum[n] = g[n] + g[8 - n];
        diff[n] = g[n] - g[8 - n];
    }
    for (int m = 0; m < 9; m += 2) {
        const float middle = (m & 2) ? -g[4] : g[4];
        out[m] = matrix[m][0] * sum[0] + matrix[m][1] * sum[1] + matrix[m][2] * sum[2] + matrix[m][3] * sum[3] +
                 middle;
    }
    for (int m = 1; m < 9; m += 2)
        out[m] = matrix[m][0] * diff[0] + matrix[m][1] * diff[1] + matrix[m][2] * diff[2] + matrix[m][3] * diff[3];
}

// Long-block subband: 36-point transform, window, overlap-add.
template <bool add>
void longSubband(const float* spectrum, const float* window, const float* overlapIn, float* block, float* overlapOut,
                 int s)
{
    float y[18];
    for (int n = 0; n < 18; ++n)
        y[n] = spectrum[n];
    Imdct36Ref(y);
    for (int t = 0; t < 9; ++t) {
        const float a = overlapIn[t] + window[t] * y[t + 9];
        const float b = overlapIn[t + 9] + window[t + 9] * y[17 - t];
        block[32 * t + s] = add ? block[32 * t + s] + a : a;
        block[32 * (t + 9) + s] = add ? block[32 * (t + 9) + s] + b : b;
    }
    for (int t = 0; t < 9; ++t) {
        const float a = window[t + 18] * y[8 - t];
        const float b = window[t + 27] * y[t];
        overlapOut[t] = add ? overlapOut[t] + a : a;
        overlapOut[t + 9] = add ? overlapOut[t + 9] + b : b;
    }
}

// Short-block subband: three 12-point transforms, window, overlap-add.
template <bool add>
void shortSubband(const float* spectrum, const float* window, const float* overlapIn, float* block,
                  float* overlapOut, int s)
{
    float y[18];
    for (int n = 0; n < 18; ++n)
        y[n] = spectrum[n];
    Imdct12x3Ref(y);
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
const float* longWindowFor(const ImdctTables& t, int blockType, int subband)
{
    const int type = blockType & 3;
    if (type == 2 || ((blockType & kMixedBlockBit) && subband < 2))
        return t.window[0];
    return t.window[type];
}

} // namespace

const float (&blockWindows())[4][36]
{
    return tables().window;
}

void Imdct36Ref(float* x)
{
    const ImdctTables& t = tables();
    float a[18];
    for (int n = 0; n < 18; ++n)
        a[n] = x[n] * t.preTwiddle36[n];
    float g[9], h[9], even[9], odd[9];
    for (int n = 0; n < 9; ++n) {
        g[n] = a[n] + a[17 - n];
        h[n] = (a[n] - a[17 - n]) * t.oddTwiddle18[n];
    }
    dct9(t.dct9, g, even);
    dct9(t.dct9, h, odd);
    // DCT-II of a: X[2m] = even[m]; X[2m + 1] = odd[m] - X[2m - 1].
    // The recursions run in registers: through memory each step would wait
    // for the previous store.
    float X[18];
    float previous = odd[0] * 0.5f;
    for (int m = 0; m < 9; ++m) {
        if (m > 0)
            previous = odd[m] - previous;
        X[2 * m] = even[m];
        X[2 * m + 1] = previous;
    }
    // DCT-IV from the pre-twiddled DCT-II: y[k] = X[k] - y[k - 1].
    float y = X[0] * 0.5f;
    x[0] = y;
    for (int k = 1; k < 18; ++k) {
        y = X[k] - y;
        x[k] = y;
    }
}

void Imdct12x3Ref(float* x)
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

int HybridFilterRef(float* current, const float* previous, float* block, int blockType, int longLines, int allLines,
                    int overlapLines, int subbands)
{
    const ImdctTables& t = tables();
    const int longSubbands = (longLines + 17) / 18;
    const int allSubbands = (allLines + 17) / 18;
    const int overlapSubbands = (overlapLines + 17) / 18;
    int s = 0;
    for (; s < longSubbands && s < subbands; ++s)
        longSubband<false>(current + 18 * s, longWindowFor(t, blockType, s), previous + 18 * s, block,
                           current + 18 * s, s);
    for (; s < allSubbands && s < subbands; ++s)
        shortSubband<false>(current + 18 * s, t.window[2], previous + 18 * s, block, current + 18 * s, s);
    for (; s < overlapSubbands && s < subbands; ++s) {
        for (int k = 0; k < 18; ++k) {
            block[32 * k + s] = previous[18 * s + k];
            current[18 * s + k] = 0.0f;
        }
    }
    const int covered = 18 * s;
    for (; s < subbands; ++s)
        for (int k = 0; k < 18; ++k)
            block[32 * k + s] = 0.0f;
    for (; s < 32; ++s)
        for (int k = 0; k < 18; ++k)
            block[32 * k + s] = 0.0f;
    return covered;
}

int HybridFilterAdd(float* current, float* overlapStore, float* block, int blockType, int longLines, int allLines,
                    int subbands)
{
    const ImdctTables& t = tables();
    const int longSubbands = (longLines + 17) / 18;
    const int allSubbands = (allLines + 17) / 18;
    // This channel's own overlap is carried in the first channel's store, so
    // its input overlap is zero here.
    static const float kZero[18] = {};
    int s = 0;
    for (; s < longSubbands && s < subbands; ++s)
        longSubband<true>(current + 18 * s, longWindowFor(t, blockType, s), kZero, block, overlapStore + 18 * s, s);
    for (; s < allSubbands && s < subbands; ++s)
        shortSubband<true>(current + 18 * s, t.window[2], kZero, block, overlapStore + 18 * s, s);
    return 18 * s;
}

void InvertOddSubbands(float* block, int linesCovered)
{
    const int pairs = (linesCovered + 17) / 36;
    for (int p = 0; p < pairs && p < 16; ++p)
        for (int t = 1; t < 18; t += 2)
            block[32 * t + 2 * p + 1] = -block[32 * t + 2 * p + 1];
}

} // namespace morvik::mpeg
