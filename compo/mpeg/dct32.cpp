// The 32-point DCT of the synthesis, by Lee's recursive factorisation.
#include "compo/mpeg/synthesis.h"

#include "compo/mpeg/dctkernels.h"

#include <cmath>
#include <cstring>
#include <numbers>

namespace morvik::mpeg {

namespace {

struct DctTables {
    float coef[31];
    DctCoefficients lanes;
    DctTables()
    {
        int k = 0;
        for (int m = 16; m >= 1; m /= 2)
            for (int j = 0; j < m; ++j)
                coef[k++] = static_cast<float>(0.5 / std::cos(std::numbers::pi * (2 * j + 1) / (4.0 * m)));
        for (int n = 0; n < 31; ++n)
            for (float& c : lanes.lanes[n])
                c = coef[n];
    }
};

const DctTables& dctTables()
{
    static const DctTables tables;
    return tables;
}

// Lee's recursive factorisation of the unnormalised DCT-II of length N.
template <int N>
void leeDct(const float* x, float* out, const float* coef)
{
    if constexpr (N == 2) {
        out[0] = x[0] + x[1];
        out[1] = (x[0] - x[1]) * coef[dctCoefOffset(2)];
    } else {
        float g[N / 2], h[N / 2], gOut[N / 2], hOut[N / 2];
        const float* c = coef + dctCoefOffset(N);
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

} // namespace

const DctCoefficients& dctCoefficients()
{
    return dctTables().lanes;
}

[[gnu::flatten]] void Dct32x4(const float (&in)[32][4], float (&out)[32][4])
{
    using V = DctLanes<4>::Vector;
    V x[32], y[32];
    std::memcpy(x, in, sizeof x);
    leeDctLanes<32, 4>(x, y, dctCoefficients());
    std::memcpy(out, y, sizeof y);
}

// Flattened: the recursion becomes one straight block of arithmetic.
[[gnu::flatten]] void Dct32(const float* in, float* out)
{
    leeDct<32>(in, out, dctTables().coef);
}

} // namespace morvik::mpeg
