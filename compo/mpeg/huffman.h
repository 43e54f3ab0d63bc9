// Layer III Huffman decoding of the big-value and count1 regions.
//
// Lookup-table layout (32-bit words, written by tools/gen_tables.py): word 0
// holds in its low byte the number of bits w peeked at this level (and, in
// a first level, in byte 1 the width of the first level the bit reader's
// loads are reckoned on); words 1..2^w are indexed by the peeked bits. A
// word whose top byte is 0 links to a subtable at that many words from the
// current table's start; all w bits of the level are consumed. Any other
// word is a leaf:
// - a whole leaf (first level only; bit 31 set) holds a pair whose code and
//   sign bits fit in w bits, without linbits: in bits 24..28 the bits of
//   code and signs, bit 30 set for a code longer than the reader's first
//   level, x and y signed in bytes 1 and 2, bits 4..7 the bits the reader
//   needs held at the code's start for its sign read (0 without signs),
//   bits 0..3 the code's length;
// - any other leaf has the code bits consumed at this level in its top
//   byte, x in bits 16..19, y in 20..23, the count of nonzero values in bits
//   0..1, and the offsets from the code's start at which the reader peeked
//   again for it (0: it did not): the second level in bits 2..5, the third
//   in 8..11, the fourth (after the third) in 12..14.
#pragma once

#include "compo/mpeg/bitreader.h"

#include <cstdint>
#include <vector>

namespace morvik::mpeg {

enum class HuffKind : std::uint8_t { Zero, Single, MultiLevel, Escape, Count1A, Count1B };

struct HuffDescriptor {
    const std::uint32_t* table;
    std::int32_t linbits;
    HuffKind kind;
};

// Descriptors for table numbers 0..33 (32 and 33 are count1 tables A and B).
extern const HuffDescriptor kHuffDescriptors[34];

extern const std::uint32_t kHuffTable1[], kHuffTable2[], kHuffTable3[], kHuffTable5[], kHuffTable6[],
    kHuffTable7[], kHuffTable8[], kHuffTable9[], kHuffTable10[], kHuffTable11[], kHuffTable12[],
    kHuffTable13[], kHuffTable15[], kHuffTable16[], kHuffTable24[];
// Count1 table A by the next 6 bits: code length << 8 | vwxy (v in bit 3).
extern const std::uint16_t kCount1TableA[64];

// Decodes lineCount / 2 pairs into dest. Stops early (leaving the rest of the
// region unwritten) once the reader passes its end pointer.
void DecodeBigValues(BitReader& reader, std::int32_t* dest, int lineCount, int tableNumber);

// Decodes quadruples into dest while lines and bits remain; returns the
// number of lines up to the last nonzero value, rounded to a pair.
int DecodeCount1(BitReader& reader, std::int32_t* dest, int linesAvailable, int bitsRemaining, bool tableB);

// Where the Huffman data of one channel granule go: big-value regions of
// lines up to regionEnd[0], [1] and [2] (each from the end of the one
// before, the first from 0) with tables[0..2], then count1 quadruples
// (table B with count1B) while lines remain below 576 and bits remain
// before the reader position dataEnd.
struct GranuleCodes {
    int regionEnd[3];
    int tables[3];
    std::int64_t dataEnd;
    bool count1B;
};

// Decodes them into dest[0..575] as DecodeBigValues and DecodeCount1 would
// one after the other, and returns DecodeCount1's extent, or -1 when the
// reader was then past its end pointer (dest is then left undefined). The
// reader ends at the end of the data read.
int DecodeGranuleCodes(BitReader& reader, std::int32_t* dest, const GranuleCodes& codes);

// Every form of DecodeGranuleCodes that this processor runs, the plain one
// first; it takes the last. Each gives the same values.
using DecodeGranuleCodesFn = int (*)(BitReader& reader, std::int32_t* dest, const GranuleCodes& codes);
const std::vector<DecodeGranuleCodesFn>& GranuleCodesForms();

// Decodes one (x, y) pair of a big-value table; exposed for table tests.
void decodePair(BitReader& reader, const HuffDescriptor& d, std::int32_t& x, std::int32_t& y);

} // namespace morvik::mpeg
