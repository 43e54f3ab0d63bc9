#include "compo/mpeg/imdct.h"

#include "compo/mpeg/dispatch.h"
#include "compo/mpeg/imdctkernels.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace morvik::mpeg {

const float (&blockWindows())[4][36]
{
    return tables().window;
}

void Imdct36Ref(float* x)
{
    imdct36(x);
}

void Imdct12x3Ref(float* x)
{
    imdct12x3(x);
}

int HybridFilterRef(float* current, const float* previous, float* block, int blockType, int longLines, int allLines,
                    int overlapLines, int subbands)
{
    return hybridFilterHere(current, previous, block, blockType, longLines, allLines, overlapLines, subbands);
}

// Transforms through the dispatch table, one subband at a time: this path
// runs only for a mono mix of granules whose block types differ.
int HybridFilterAdd(float* current, float* overlapStore, float* block, int blockType, int longLines, int allLines,
                    int subbands)
{
    const DecoderDispatch& d = decoderDispatch();
    const ImdctTables& t = tables();
    const int longSubbands = (longLines + 17) / 18;
    const int allSubbands = (allLines + 17) / 18;
    // This channel's own overlap is carried in the first channel's store, so
    // its input overlap is zero here.
    static const float kZero[18] = {};
    int s = 0;
    for (const int end = std::min(longSubbands, subbands); s < end; ++s) {
        float y[18];
        for (int n = 0; n < 18; ++n)
            y[n] = current[18 * s + n];
        d.Imdct36(y);
        windowLongSubbands<true>(y, longWindowFor(t, blockType, s), kZero, block, overlapStore + 18 * s, s);
    }
    for (; s < allSubbands && s < subbands; ++s)
        shortSubband<true>(current + 18 * s, t.window[2], kZero, block, overlapStore + 18 * s, s, d.Imdct12x3);
    return 18 * s;
}

// Row by row, four subbands at a time: the sign bit of every odd one flips
// (which is what negation does) in one vector operation. The covered
// subbands come in pairs, so a row ends in a whole group of four or in one
// pair.
void InvertOddSubbands(float* block, int linesCovered)
{
    typedef std::uint32_t FourWords __attribute__((vector_size(16)));
    const FourWords oddSigns = {0, 0x80000000u, 0, 0x80000000u};
    const int columns = 2 * std::min((linesCovered + 17) / 36, 16);
    for (int t = 1; t < 18; t += 2) {
        float* row = block + 32 * t;
        int c = 0;
        for (; c + 4 <= columns; c += 4) {
            FourWords words;
            std::memcpy(&words, row + c, sizeof words);
            words ^= oddSigns;
            std::memcpy(row + c, &words, sizeof words);
        }
        if (c < columns)
            row[c + 1] = -row[c + 1];
    }
}

} // namespace morvik::mpeg
