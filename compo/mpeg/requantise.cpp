// Layer III requantisation, fused with the reordering of short blocks.
#include "compo/mpeg/layer3.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace morvik::mpeg {

namespace {

// Cube roots m^(1/3) in float arithmetic for every magnitude that an
// escape code can give (15 plus at most 13 linbits: up to 8206), each the
// very pow result the line would otherwise take, so that requantisation
// needs no call to pow.
constexpr int kCubeRootCount = 15 + (1 << 13);

struct CubeRoots {
    float value[kCubeRootCount];
    CubeRoots()
    {
        for (int m = 0; m < kCubeRootCount; ++m)
            value[m] = std::pow(static_cast<float>(m), 0.33333334f);
    }
};

const CubeRoots& cubeRoots()
{
    static const CubeRoots roots;
    return roots;
}

// A value outside -32..31, with `roots` the cube root table.
inline float requantiseEscaped(const float* roots, float factor, std::int32_t v)
{
    const int magnitude = std::abs(v);
    const float root = magnitude < kCubeRootCount ? roots[magnitude]
                                                  : std::pow(static_cast<float>(magnitude), 0.33333334f);
    return factor * static_cast<float>(v) * root;
}

float requantiseValue(const Layer3Tables& t, float factor, std::int32_t v)
{
    // The table holds 0 for v = 0, so the common small values take one path.
    if (v >= -32 && v <= 31)
        return factor * t.power[v + 32];
    return requantiseEscaped(cubeRoots().value, factor, v);
}

// Requantises `count` lines with one factor into out[0], out[stride], ...;
// true when any is nonzero. A run whose values all lie in -32..31 (nearly
// every run) takes the table without a test per line: the same product,
// so the same value. The run is written from the table in the same pass
// that checks it, each index kept inside the table by its low 6 bits; a run
// with a value outside is then written again, line by line, so what it
// leaves is as if the check had come first.
template <int stride>
bool requantiseRun(const Layer3Tables& t, float factor, const std::int32_t* in, float* out, int count)
{
    std::uint32_t outside = 0;
    std::int32_t any = 0;
    for (int k = 0; k < count; ++k) {
        // v + 32 as unsigned is below 64 exactly for v in -32..31, and an OR
        // of values below 64 stays below 64.
        const std::uint32_t index = static_cast<std::uint32_t>(in[k] + 32);
        outside |= index;
        any |= in[k];
        out[k * stride] = factor * t.power[index & 63];
    }
    if (outside >= 64) {
        for (int k = 0; k < count; ++k)
            out[k * stride] = requantiseValue(t, factor, in[k]);
    }
    return any != 0;
}

bool anyNonzero(const std::int32_t* in, int count)
{
    std::int32_t any = 0;
    for (int k = 0; k < count; ++k)
        any |= in[k];
    return any != 0;
}

// Long-block lines are requantised in groups of this many; a group holding
// a value outside -32..31 is written a second time.
constexpr int kGroup = 16;
// The bands' factors are spread over their lines this many at a time.
constexpr int kSpreadStep = 16;

typedef float FourFloats __attribute__((vector_size(4 * sizeof(float))));
typedef std::int32_t FourInts __attribute__((vector_size(4 * sizeof(std::int32_t))));
typedef std::uint32_t FourUnsigned __attribute__((vector_size(4 * sizeof(std::uint32_t))));

inline FourFloats loadFour(const float* p)
{
    FourFloats v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void storeFour(float* p, FourFloats v)
{
    std::memcpy(p, &v, sizeof v);
}

// Rewrites the lines among in[0..3] with a value outside -32..31 into
// out[0..3] as requantiseEscaped writes them, with `factors` the four lines'
// factors, and leaves the others. Both products are formed for every line
// and each keeps its own, so that no branch depends on the values. True
// when a magnitude lies beyond the cube root table: those lines are left
// to the caller.
inline bool rewriteEscapedFour(const float* roots, const float* factors, const std::int32_t* in, float* out)
{
    FourInts v;
    std::memcpy(&v, in, sizeof v);
    const FourInts escaped = (v < -32) | (v > 31);
    FourUnsigned magnitude = (FourUnsigned)(v < 0 ? -v : v);
    const FourInts beyond = (FourInts)(magnitude >= kCubeRootCount);
    magnitude = beyond ? kCubeRootCount - 1 : magnitude;
    const FourFloats root = {roots[magnitude[0]], roots[magnitude[1]], roots[magnitude[2]], roots[magnitude[3]]};
    const FourFloats product = loadFour(factors) * __builtin_convertvector(v, FourFloats) * root;
    const FourInts kept = ((FourInts)product & escaped) | ((FourInts)loadFour(out) & ~escaped);
    std::memcpy(out, &kept, sizeof kept);
    return (beyond[0] | beyond[1] | beyond[2] | beyond[3]) != 0;
}

// The long-block bands 0 .. bandCount - 1 in passes over all their lines,
// so that no branch depends on where a band ends or on the values. Each
// line takes its band's factor from `factors`, where the bands' factors are
// spread out first. The groups of lines below count1Start are written from
// the power table, and a group with a value outside -32..31 is noted
// without a branch; its escaped lines are written again afterwards. The
// count1 lines from there on hold -1, 0 or 1, whose table entries are
// exactly -1, +0 and 1, so the factor times the value itself is the same
// product, bit for bit, without the table. The last group may reach past
// the bands by up to kGroup - 1 lines (with factor 0); the caller writes
// those lines again. Returns the last band with a nonzero value, or -1.
int requantiseLongBands(const Layer3Tables& t, const BandLayout& bands, float gain, int scale,
                        const std::uint8_t* pretab, const ScaleFactorSet& sf, const std::int32_t* in, float* out,
                        int bandCount, int count1Start)
{
    const int line = bands.longStart[bandCount];
    // Band after band, a whole step at a time: a band's last step may reach
    // into the bands above, which rewrite those lines (each band's first step
    // covers all that the band below reached), and past `line` by less than
    // a step. A band no wider than a step takes one step.
    float factors[576 + std::max(kGroup, kSpreadStep)];
    for (int b = 0; b < bandCount; ++b) {
        const float factor = gain * t.scaleMultiplier[scale][pretab[b]][sf.longBands[b] & 31];
        const FourFloats four = {factor, factor, factor, factor};
        float* at = factors + bands.longStart[b];
        float* const stop = factors + bands.longStart[b + 1];
        do {
            for (int j = 0; j < kSpreadStep; j += 4)
                storeFour(at + j, four);
            at += kSpreadStep;
        } while (at < stop);
    }
    for (int j = 0; j < std::max(kGroup, kSpreadStep); j += 4)
        storeFour(factors + line + j, FourFloats{});

    int escapedGroups[576 / kGroup];
    int escapedCount = 0;
    // The power table with its halves swapped: (v + 32) & 63, the entry of a
    // value v in -32..31, is (v & 63) ^ 32, so that v & 63 is its entry here.
    float powers[64];
    std::memcpy(powers, t.power + 32, 32 * sizeof(float));
    std::memcpy(powers + 32, t.power, 32 * sizeof(float));
    const auto writeGroup = [&](int base) {
        for (int j = base; j < base + kGroup; j += 4) {
            const FourFloats entries = {powers[in[j] & 63], powers[in[j + 1] & 63], powers[in[j + 2] & 63],
                                        powers[in[j + 3] & 63]};
            storeFour(out + j, loadFour(factors + j) * entries);
        }
    };
    const int bigValueLines = std::min(line, count1Start);
    int base = 0;
    for (; base < bigValueLines; base += kGroup) {
        writeGroup(base);
        // v + 32 as unsigned is below 64 exactly for v in -32..31, and an OR
        // of values below 64 stays below 64.
        FourInts outside = {};
        for (int j = 0; j < kGroup; j += 4) {
            FourInts four;
            std::memcpy(&four, in + base + j, sizeof four);
            outside |= four + 32;
        }
        outside |= __builtin_shufflevector(outside, outside, 2, 3, 0, 1);
        outside |= __builtin_shufflevector(outside, outside, 1, 0, 3, 2);
        escapedGroups[escapedCount] = base;
        escapedCount += static_cast<std::uint32_t>(outside[0]) >= 64;
    }
    for (; base < line; base += kGroup)
        for (int j = base; j < base + kGroup; j += 4) {
            FourInts four;
            std::memcpy(&four, in + j, sizeof four);
            storeFour(out + j, loadFour(factors + j) * __builtin_convertvector(four, FourFloats));
        }

    if (escapedCount > 0) {
        const float* roots = cubeRoots().value;
        for (int i = 0; i < escapedCount; ++i) {
            const int group = escapedGroups[i];
            bool beyond = false;
            for (int j = group; j < group + kGroup; j += 4)
                beyond |= rewriteEscapedFour(roots, factors + j, in + j, out + j);
            if (beyond) {
                for (int k = group; k < group + kGroup; ++k)
                    if (std::abs(in[k]) >= kCubeRootCount)
                        out[k] = requantiseEscaped(roots, factors[k], in[k]);
            }
        }
    }

    for (int b = bandCount - 1; b >= 0; --b)
        if (anyNonzero(in + bands.longStart[b], bands.longWidth[b]))
            return b;
    return -1;
}

// Lines past the requantised ones still hold an older granule's overlap.
void zeroFrom(float* out, int line)
{
    for (; line < 576; ++line)
        out[line] = 0.0f;
}

} // namespace

void Layer3Tables::build()
{
    for (int i = 0; i < 262; ++i)
        globalGain[i] = static_cast<float>(std::pow(2.0, (i - 156) / 4.0));
    for (int s = 0; s < 2; ++s)
        for (int p = 0; p < 4; ++p)
            for (int f = 0; f < 32; ++f)
                scaleMultiplier[s][p][f] = static_cast<float>(std::pow(2.0, -(s + 1) / 2.0 * (p + f)));
    for (int v = -32; v < 32; ++v)
        power[v + 32] = static_cast<float>(std::cbrt(static_cast<double>(std::abs(v))) * v);
    for (int i = 0; i < 8; ++i)
        subblockGain[i] = static_cast<float>(std::pow(2.0, -2.0 * i));

    const double pi = 3.14159265358979323846;
    for (int p = 0; p < 7; ++p) {
        const double sn = std::sin(p * pi / 12);
        const double cs = std::cos(p * pi / 12);
        for (int ms = 0; ms < 2; ++ms) {
            const double f = ms ? std::sqrt(2.0) : 1.0;
            intensity1[ms][p][0] = static_cast<float>(f * sn / (sn + cs));
            intensity1[ms][p][1] = static_cast<float>(f * cs / (sn + cs));
        }
    }
    intensity1[0][7][0] = 1.0f;
    intensity1[0][7][1] = 0.0f;
    intensity1[1][7][0] = 1.0f;
    intensity1[1][7][1] = 1.0f;

    for (int scale = 0; scale < 2; ++scale) {
        const double io = std::pow(2.0, -(scale + 1) / 4.0);
        for (int ms = 0; ms < 2; ++ms) {
            const double f = ms ? std::sqrt(2.0) : 1.0;
            for (int k = 0; k < 6; ++k) {
                const int group = (1 << k) - 1;
                for (int p = 0; p < (1 << k); ++p) {
                    float* pair = intensity2[scale][ms][group + p];
                    if (p == (1 << k) - 1) {
                        pair[0] = 1.0f;
                        pair[1] = ms ? 1.0f : 0.0f;
                    } else if (p == 0) {
                        pair[0] = pair[1] = static_cast<float>(f);
                    } else if (p & 1) {
                        pair[0] = static_cast<float>(f * std::pow(io, (p + 1) / 2));
                        pair[1] = static_cast<float>(f);
                    } else {
                        pair[0] = static_cast<float>(f);
                        pair[1] = static_cast<float>(f * std::pow(io, p / 2));
                    }
                }
            }
        }
    }
}

void RequantiseGranule(const Layer3Tables& t, const BandLayout& bands, std::int32_t* in, float* out, int& extent,
                       const ScaleFactorSet& sf, const GranuleSideInfo& gi, RequantResult& result, float* reorder)
{
    const float gain = t.globalGain[gi.global_gain + 6];
    const int scale = gi.scalefac_scale & 1;
    const bool shortBlocks = gi.block_type == 2;
    const int longBands = !shortBlocks ? 22 : gi.mixed_block_flag ? bands.mixedLongBands : 0;
    const int firstShort = !shortBlocks ? 12 : gi.mixed_block_flag ? 3 : 0;
    static constexpr std::uint8_t kNoPretab[22] = {};
    const std::uint8_t* pretab = gi.preflag ? kPretab : kNoPretab;

    result = RequantResult{};
    result.firstShortBand = firstShort;
    result.longBandsProcessed = longBands;
    // The count1 region starts at or before line 2 big_values (the decoder
    // may stop the big values earlier), and every line from there on holds
    // -1, 0 or 1.
    const int count1Start = 2 * gi.big_values;
    // The bands that start below the extent (the lines past it are zero),
    // counted from the top, where the extent nearly always ends.
    int bandCount = longBands;
    while (bandCount > 0 && bands.longStart[bandCount - 1] >= extent)
        --bandCount;
    const int line = bands.longStart[bandCount];
    // requantiseLongBands may write up to kGroup - 1 lines past `line`; the
    // short blocks or the zeros below write them again.
    if (bandCount > 0)
        result.lastNonzeroBand = requantiseLongBands(t, bands, gain, scale, pretab, sf, in, out, bandCount,
                                                     count1Start);
    if (!shortBlocks) {
        zeroFrom(out, line);
        return;
    }

    result.shortBlocks = 1;
    for (int w = 0; w < 3; ++w)
        result.lastNonzeroShort[w] = firstShort - 1;
    const int firstLine = bands.shortStart3[firstShort];
    int index = firstLine;
    float windowGain[3];
    for (int w = 0; w < 3; ++w)
        windowGain[w] = gain * t.subblockGain[gi.subblock_gain[w] & 7];
    for (int b = firstShort; b < 13 && index < extent; ++b) {
        const int width = bands.shortWidth[b];
        const int base = bands.shortStart3[b];
        for (int w = 0; w < 3; ++w) {
            const float factor = windowGain[w] * t.scaleMultiplier[scale][0][sf.shortBands[w][b] & 31];
            if (requantiseRun<3>(t, factor, in + index, reorder + base + w, width))
                result.lastNonzeroShort[w] = b;
            index += width;
        }
    }
    for (int k = firstLine; k < index; ++k)
        out[k] = reorder[k];
    // In a mixed block whose extent ends before its short bands, the lines
    // from the last long band written up to the short bands are zeros too:
    // the transforms take the long part whole.
    for (int k = line; k < firstLine; ++k)
        out[k] = 0.0f;
    if (index > firstLine)
        extent = index;
    zeroFrom(out, std::max(line, index));
    result.lastNonzeroBand = std::max({result.lastNonzeroShort[0], result.lastNonzeroShort[1],
                                       result.lastNonzeroShort[2]});
}

} // namespace morvik::mpeg
