// Layer III middle/side and intensity stereo, and the antialias butterflies.
#include "compo/mpeg/stereo.h"

#include "compo/mpeg/layer3.h"

#include <algorithm>
#include <cmath>

namespace morvik::mpeg {

namespace {

AntialiasCoefficients buildAntialiasCoefficients()
{
    const double ci[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
    AntialiasCoefficients c;
    for (int i = 0; i < 8; ++i) {
        const double root = std::sqrt(1.0 + ci[i] * ci[i]);
        c.cs[i] = static_cast<float>(1.0 / root);
        c.ca[i] = static_cast<float>(ci[i] / root);
    }
    return c;
}

void applyPair(float* left, float* right, int k, const float* pair)
{
    const float v = left[k];
    right[k] = v * pair[1];
    left[k] = v * pair[0];
}

// Which LSF scale-factor part a band belongs to, from the part band counts.
int lsfPart(const LsfIntensityRecord& record, int band, int firstBand)
{
    int end = firstBand;
    for (int part = 0; part < 4; ++part) {
        end += record.bandCounts[part];
        if (band < end)
            return part;
    }
    return 3;
}

const float* lsfPair(const Layer3Tables& t, const LsfIntensityRecord& record, int part, int position, bool midSide)
{
    const int bits = std::clamp(record.slen[part], 0, 5);
    const int last = (1 << bits) - 1;
    position = std::clamp(position, 0, last);
    return t.intensity2[record.intensityScale & 1][midSide ? 1 : 0][last + position];
}

} // namespace

void MidSideStereo(float* left, float* right, int lines)
{
    for (int k = 0; k < lines; ++k) {
        const float m = left[k];
        const float s = right[k];
        left[k] = m + s;
        right[k] = m - s;
    }
}

void IntensityStereo1(const Layer3Tables& t, const BandLayout& bands, float* left, float* right,
                      const ScaleFactorSet& rightSf, const RequantResult& rightResult, int leftExtent, bool midSide)
{
    const float(&ratios)[8][2] = t.intensity1[midSide ? 1 : 0];
    const int s = rightResult.lastNonzeroBand;
    if (!rightResult.shortBlocks) {
        int line = bands.longStart[s + 1];
        for (int b = s + 1; b <= 20 && line < leftExtent; ++b) {
            const float* pair = ratios[std::min(rightSf.longBands[b], 7)];
            for (const int end = bands.longStart[b + 1]; line < end && line < leftExtent; ++line)
                applyPair(left, right, line, pair);
        }
        return;
    }
    int budget = leftExtent - bands.shortStart3[s + 1];
    for (int b = s + 1; b <= 11 && budget > 0; ++b) {
        const int base = bands.shortStart3[b];
        for (int i = 0; i < bands.shortWidth[b] && budget > 0; ++i)
            for (int w = 0; w < 3 && budget > 0; ++w, --budget)
                applyPair(left, right, base + 3 * i + w, ratios[std::min(rightSf.shortBands[w][b], 7)]);
    }
}

void IntensityStereo2(const Layer3Tables& t, const BandLayout& bands, float* left, float* right,
                      const ScaleFactorSet& rightSf, const RequantResult& leftResult,
                      const RequantResult& rightResult, const LsfIntensityRecord& record, int leftExtent,
                      bool midSide)
{
    if (rightResult.shortBlocks) {
        const bool mixed = rightResult.firstShortBand > 0;
        for (int w = 0; w < 3; ++w) {
            const int last = std::min(leftResult.lastNonzeroShort[w], 12);
            for (int b = rightResult.lastNonzeroShort[w] + 1; b <= last; ++b) {
                const int part = mixed ? (b < 3 ? 0 : 1 + lsfPart(record, b, 3 - record.bandCounts[0]) - 1)
                                       : lsfPart(record, b, 0);
                const float* pair = lsfPair(t, record, part, rightSf.shortBands[w][b], midSide);
                const int base = bands.shortStart3[b];
                for (int i = 0; i < bands.shortWidth[b]; ++i)
                    applyPair(left, right, base + 3 * i + w, pair);
            }
        }
        return;
    }
    const int s = rightResult.lastNonzeroBand;
    int line = bands.longStart[s + 1];
    for (int b = s + 1; b <= 20 && line < leftExtent; ++b) {
        const float* pair = lsfPair(t, record, lsfPart(record, b, 0), rightSf.longBands[b], midSide);
        for (const int end = bands.longStart[b + 1]; line < end && line < leftExtent; ++line)
            applyPair(left, right, line, pair);
    }
}

const AntialiasCoefficients& antialiasCoefficients()
{
    static const AntialiasCoefficients coefficients = buildAntialiasCoefficients();
    return coefficients;
}

int AntialiasBoundaries(const GranuleSideInfo& g, int extent)
{
    if (g.block_type == 2)
        return g.mixed_block_flag ? 1 : 0;
    return std::min(31, (extent + 7) / 18);
}

// The eight butterflies of a boundary are independent: read into two
// arrays (the lower side reversed), they form plain vector operations, each
// lane computing exactly the scalar expression.
void AntialiasRef(float* x, int boundaries)
{
    const AntialiasCoefficients& c = antialiasCoefficients();
    for (int b = 0; b < boundaries; ++b) {
        float* lo = x + 18 * b + 17;
        float* hi = x + 18 * (b + 1);
        float l[8], h[8], newLo[8], newHi[8];
        for (int i = 0; i < 8; ++i) {
            l[i] = lo[-i];
            h[i] = hi[i];
        }
        for (int i = 0; i < 8; ++i) {
            newLo[i] = l[i] * c.cs[i] - h[i] * c.ca[i];
            newHi[i] = h[i] * c.cs[i] + l[i] * c.ca[i];
        }
        for (int i = 0; i < 8; ++i) {
            lo[-i] = newLo[i];
            hi[i] = newHi[i];
        }
    }
}

} // namespace morvik::mpeg
