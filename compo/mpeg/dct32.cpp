// The 32-point DCT of the synthesis, by Lee's recursive factorisation.
#include "compo/mpeg/synthesis.h"

#include <cmath>
#include <numbers>

namespace morvik::mpeg {

namespace {

struct DctTables {
    // 0.5 / cos(pi (2j + 1) / (4m)) for m = 16, 8, 4, 2, 1, one after another.
    float coef[31];
    alignas(16) float coefLanes[31][4];  // each coefficient four times, for Dct32x4
    DctTables()
    {
        int k = 0;
        for (int m = 16; m >= 1; m /= 2)
            for (int j = 0; j < m; ++j)
                coef[k++] = static_cast<float>(0.5 / std::cos(std::numbers::pi * (2 * j + 1) / (4.0 * m)));
        for (int n = 0; n < 31; ++n)
            for (float& c : coefLanes[n])
                c = coef[n];
    }
};

const DctTables& dctTables()
{
    static const DctTables tables;
    return tables;
}

constexpr int coefOffset(int n)
{
    return n == 32 ? 0 : n == 16 ? 16 : n == 8 ? 24 : n == 4 ? 28 : 30;
}

// Lee's recursive factorisation of the unnormalised DCT-II of length N.
template <int N>
void leeDct(const float* x, float* out, const float* coef)
{
    if constexpr (N == 2) {
        out[0] = x[0] + x[1];
        out[1] = (x[0] - x[1]) * coef[coefOffset(2)];
    } else {
        float g[N / 2], h[N / 2], gOut[N / 2], hOut[N / 2];
        const float* c = coef + coefOffset(N);
        for (int n = 0; n < N / 2; ++n) {
            g[n] = x[n] + x[N - 1 - n];
            h[n] = (x[n] - x[N - 1 - n]) * c[n];
        }
        leeDct<N / 2>(g, gOut, coef);
        leeDct<N / 2>(h, hOut, coef);
        for (int k = 0; k < N / 2 - 1; ++k) {
            out[2 * k] = gOut[k];
            out[2 * k + 1] = hOut[k] + hOut[k + 1];
        }
        out[N - 2] = gOut[N / 2 - 1];
        out[N - 1] = hOut[N / 2 - 1];
    }
}

// As leeDct, for four transforms side by side (value n of transform k at
// x[n][k]): each lane sees the same operations, and the lanes fill a vector.
template <int N>
void leeDctLanes(const float (*x)[4], float (*out)[4], const float (*coef)[4])
{
    if constexpr (N == 2) {
        for (int k = 0; k < 4; ++k) {
            out[0][k] = x[0][k] + x[1][k];
            out[1][k] = (x[0][k] - x[1][k]) * coef[coefOffset(2)][k];
        }
    } else {
        float g[N / 2][4], h[N / 2][4], gOut[N / 2][4], hOut[N / 2][4];
        const float(*c)[4] = coef + coefOffset(N);
        for (int n = 0; n < N / 2; ++n)
            for (int k = 0; k < 4; ++k) {
                g[n][k] = x[n][k] + x[N - 1 - n][k];
                h[n][k] = (x[n][k] - x[N - 1 - n][k]) * c[n][k];
            }
        leeDctLanes<N / 2>(g, gOut, coef);
        leeDctLanes<N / 2>(h, hOut, coef);
        for (int n = 0; n < N / 2 - 1; ++n)
            for (int k = 0; k < 4; ++k) {
                out[2 * n][k] = gOut[n][k];
                out[2 * n + 1][k] = hOut[n][k] + hOut[n + 1][k];
            }
        for (int k = 0; k < 4; ++k) {
            out[N - 2][k] = gOut[N / 2 - 1][k];
            out[N - 1][k] = hOut[N / 2 - 1][k];
        }
    }
}

} // namespace

[[gnu::flatten]] void Dct32x4(const float (&in)[32][4], float (&out)[32][4])
{
    leeDctLanes<32>(in, out, dctTables().coefLanes);
}

// Flattened: the recursion becomes one straight block of arithmetic.
[[gnu::flatten]] void Dct32(const float* in, float* out)
{
    leeDct<32>(in, out, dctTables().coef);
}

} // namespace morvik::mpeg
