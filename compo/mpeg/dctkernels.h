// The synthesis DCT for several time steps side by side, shared by the
// baseline build and the AVX2 build of the synthesis. Internal linkage: each
// file that includes it gets its own copy, built with that file's flags.
// Files built with FMA must not include it: a fused product would change
// the transform's values.
#pragma once

#include "compo/mpeg/synthesis.h"

#include <cstring>

namespace morvik::mpeg {
namespace {

#if defined(__FMA__)
#error "the synthesis DCT's products must stay unfused"
#endif

// Value n of `Lanes` transforms, one per lane (the compiler's generic
// vectors: four floats in SSE2, eight in AVX).
template <int Lanes>
struct DctLanes {
    typedef float Vector __attribute__((vector_size(sizeof(float) * Lanes)));
};

constexpr int dctCoefOffset(int n)
{
    return n == 32 ? 0 : n == 16 ? 16 : n == 8 ? 24 : n == 4 ? 28 : 30;
}

// Lee's recursive factorisation of the unnormalised DCT-II of length N, as
// Dct32 forms it, in every lane: each lane sees the same operations in the
// same order.
template <int N, int Lanes>
inline void leeDctLanes(const typename DctLanes<Lanes>::Vector* x, typename DctLanes<Lanes>::Vector* out,
                        const DctCoefficients& coef)
{
    using V = typename DctLanes<Lanes>::Vector;
    auto c = [&](int k) {
        V v;
        std::memcpy(&v, coef.lanes[k], sizeof v);
        return v;
    };
    if constexpr (N == 2) {
        out[0] = x[0] + x[1];
        out[1] = (x[0] - x[1]) * c(dctCoefOffset(2));
    } else {
        V g[N / 2], h[N / 2], gOut[N / 2], hOut[N / 2];
        for (int n = 0; n < N / 2; ++n) {
            g[n] = x[n] + x[N - 1 - n];
            h[n] = (x[n] - x[N - 1 - n]) * c(dctCoefOffset(N) + n);
        }
        leeDctLanes<N / 2, Lanes>(g, gOut, coef);
        leeDctLanes<N / 2, Lanes>(h, hOut, coef);
        for (int n = 0; n < N / 2 - 1; ++n) {
            out[2 * n] = gOut[n];
            out[2 * n + 1] = hOut[n] + hOut[n + 1];
        }
        out[N - 2] = gOut[N / 2 - 1];
        out[N - 1] = hOut[N / 2 - 1];
    }
}

} // namespace
} // namespace morvik::mpeg
