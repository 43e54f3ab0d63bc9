// Layer III Huffman decoding of the big-value and count1 regions.
//
// Lookup-table layout (32-bit words): word 0 holds in its low byte the number
// of bits w peeked at this level; words 1..2^w are indexed by the peeked bits.
// A leaf has the code bits consumed at this level in its top byte, x in byte
// 1, y in byte 2 and the count of nonzero values in byte 0. A word whose top
// byte is 0 links to a subtable at that many words from the current table's
// start; all w bits of the level are consumed.
#pragma once

#include "compo/mpeg/bitreader.h"

#include <cstdint>

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

// Decodes one (x, y) pair of a big-value table; exposed for table tests.
void decodePair(BitReader& reader, const HuffDescriptor& d, std::int32_t& x, std::int32_t& y);

} // namespace morvik::mpeg
