#include "compo/mpeg/huffman.h"

#include <cstring>

namespace morvik::mpeg {

const HuffDescriptor kHuffDescriptors[34] = {
    {nullptr, 0, HuffKind::Zero},
    {kHuffTable1, 0, HuffKind::Single},
    {kHuffTable2, 0, HuffKind::Single},
    {kHuffTable3, 0, HuffKind::Single},
    {nullptr, 0, HuffKind::Zero},
    {kHuffTable5, 0, HuffKind::Single},
    {kHuffTable6, 0, HuffKind::Single},
    {kHuffTable7, 0, HuffKind::MultiLevel},
    {kHuffTable8, 0, HuffKind::MultiLevel},
    {kHuffTable9, 0, HuffKind::MultiLevel},
    {kHuffTable10, 0, HuffKind::MultiLevel},
    {kHuffTable11, 0, HuffKind::MultiLevel},
    {kHuffTable12, 0, HuffKind::MultiLevel},
    {kHuffTable13, 0, HuffKind::MultiLevel},
    {nullptr, 0, HuffKind::Zero},
    {kHuffTable15, 0, HuffKind::MultiLevel},
    {kHuffTable16, 1, HuffKind::Escape},
    {kHuffTable16, 2, HuffKind::Escape},
    {kHuffTable16, 3, HuffKind::Escape},
    {kHuffTable16, 4, HuffKind::Escape},
    {kHuffTable16, 6, HuffKind::Escape},
    {kHuffTable16, 8, HuffKind::Escape},
    {kHuffTable16, 10, HuffKind::Escape},
    {kHuffTable16, 13, HuffKind::Escape},
    {kHuffTable24, 4, HuffKind::Escape},
    {kHuffTable24, 5, HuffKind::Escape},
    {kHuffTable24, 6, HuffKind::Escape},
    {kHuffTable24, 7, HuffKind::Escape},
    {kHuffTable24, 8, HuffKind::Escape},
    {kHuffTable24, 9, HuffKind::Escape},
    {kHuffTable24, 11, HuffKind::Escape},
    {kHuffTable24, 13, HuffKind::Escape},
    {nullptr, 0, HuffKind::Count1A},
    {nullptr, 0, HuffKind::Count1B},
};

namespace {

std::uint32_t lookupLeaf(BitReader& reader, const std::uint32_t* table)
{
    for (;;) {
        const int width = static_cast<int>(table[0] & 0xFF);
        const std::uint32_t entry = table[1 + reader.PeekBits(width)];
        const int consumed = static_cast<int>(entry >> 24);
        if (consumed != 0) {
            reader.skipHeld(consumed);
            return entry;
        }
        reader.skipHeld(width);
        table += entry;
    }
}

std::int32_t withSign(BitReader& reader, std::int32_t value)
{
    if (value != 0 && reader.ReadBitsRefill(1))
        return -value;
    return value;
}

std::int32_t escaped(BitReader& reader, std::int32_t value, int linbits)
{
    if (value == 15)
        value += static_cast<std::int32_t>(reader.ReadBitsRefill(linbits));
    return withSign(reader, value);
}

} // namespace

namespace {

// Reads the sign bits that follow a pair's code (one per nonzero value, x's
// first; the leaf's low byte counts them) and applies them without a branch
// on the data: with one nonzero value its bit may be applied to both, the
// zero one staying 0; with two, x's bit is the first. So x's bit is the read
// shifted right by nonzero - 1 and y's is its last, and (v ^ -s) + s is -v
// for s = 1 and v for s = 0.
inline void applySigns(BitReader& reader, std::uint32_t leaf, std::int32_t& x, std::int32_t& y)
{
    const int nonzero = static_cast<int>(leaf & 0xFF);
    if (nonzero == 0)
        return;
    const std::uint32_t signs = reader.ReadBitsRefill(nonzero);
    const std::int32_t signX = static_cast<std::int32_t>(signs >> (nonzero - 1));
    const std::int32_t signY = static_cast<std::int32_t>(signs & 1);
    x = (x ^ -signX) + signX;
    y = (y ^ -signY) + signY;
}

// One pair; `escape` is known per region, so the test on the table kind
// leaves the inner loop.
template <bool escape>
inline void decodePairOf(BitReader& reader, const std::uint32_t* table, int linbits, std::int32_t& x,
                         std::int32_t& y)
{
    const std::uint32_t leaf = lookupLeaf(reader, table);
    x = static_cast<std::int32_t>((leaf >> 8) & 0xFF);
    y = static_cast<std::int32_t>((leaf >> 16) & 0xFF);
    if constexpr (escape) {
        // Linbits come between a value of 15 and its sign bit; a pair without
        // one has its sign bits right after its code, as in the tables
        // without escapes. Reading both at once loads the same bytes as
        // reading them one by one: either way the window is topped up exactly
        // when fewer than 4 bits are held (one by one, at 3 held bits, only
        // for the second read, at 2 held bits), and a top-up at 2 or 3 held
        // bits loads the same 3 bytes.
        if (x == 15 || y == 15) {
            x = escaped(reader, x, linbits);
            y = escaped(reader, y, linbits);
            return;
        }
    }
    applySigns(reader, leaf, x, y);
}

template <bool escape>
void decodeRegion(BitReader& reader, std::int32_t* dest, int lineCount, const HuffDescriptor& d)
{
    const std::uint32_t* table = d.table;
    const int linbits = d.linbits;
    for (int i = 0; i + 1 < lineCount; i += 2) {
        decodePairOf<escape>(reader, table, linbits, dest[i], dest[i + 1]);
        if (reader.pastEnd())
            return;
    }
}

} // namespace

void decodePair(BitReader& reader, const HuffDescriptor& d, std::int32_t& x, std::int32_t& y)
{
    if (d.kind == HuffKind::Escape)
        decodePairOf<true>(reader, d.table, d.linbits, x, y);
    else
        decodePairOf<false>(reader, d.table, d.linbits, x, y);
}

// The decoders work on a local copy of the reader: the values they store
// could otherwise alias its fields, which would then be reloaded from memory
// after every store.
void DecodeBigValues(BitReader& reader, std::int32_t* dest, int lineCount, int tableNumber)
{
    const HuffDescriptor& d = kHuffDescriptors[tableNumber & 31];
    BitReader local = reader;
    switch (d.kind) {
    case HuffKind::Zero:
        for (int i = 0; i < lineCount; ++i)
            dest[i] = 0;
        return;
    case HuffKind::Escape:
        decodeRegion<true>(local, dest, lineCount, d);
        break;
    default:
        decodeRegion<false>(local, dest, lineCount, d);
        break;
    }
    reader = local;
}

namespace {

// The four values of a quadruple by its vwxy bits and the sign bits read
// after it (one per nonzero value, v's first), v first, ready to be copied.
struct Count1Values {
    std::int32_t values[16][16][4];
    Count1Values()
    {
        for (int vwxy = 0; vwxy < 16; ++vwxy)
            for (int signs = 0; signs < 16; ++signs) {
                int signsLeft = 0;
                for (int k = 0; k < 4; ++k)
                    signsLeft += (vwxy >> k) & 1;
                for (int k = 0; k < 4; ++k) {
                    const int value = (vwxy >> (3 - k)) & 1;
                    signsLeft -= value;
                    const int negative = (signs >> signsLeft) & value;
                    values[vwxy][signs][k] = value - 2 * negative;
                }
            }
    }
};

const Count1Values& count1Values()
{
    static const Count1Values values;
    return values;
}

int decodeCount1(BitReader& reader, std::int32_t* dest, int linesAvailable, int bitsRemaining, bool tableB)
{
    const Count1Values& values = count1Values();
    const int quads = linesAvailable / 4;
    int last = -1;
    int lastBits = 0;
    int decoded = -1;
    for (int q = 0; q < quads && !reader.pastEnd(); ++q) {
        int vwxy = 0;
        if (tableB) {
            if (bitsRemaining <= 3)
                break;
            vwxy = static_cast<int>(reader.GetBits(4)) ^ 15;
            bitsRemaining -= 4;
        } else {
            if (bitsRemaining <= 0)
                break;
            const std::uint16_t entry = kCount1TableA[reader.PeekBits(6)];
            const int length = entry >> 8;
            reader.skipHeld(length);
            vwxy = entry & 15;
            bitsRemaining -= length;
        }
        // The sign bits of the nonzero values, read together: a one-bit read
        // refills below 3 held bits, a read of all of them below their count
        // plus 2, and either way the same bytes are loaded by the quadruple's
        // end.
        // Bits set in a 4-bit value, by table: the processor's own count
        // instruction is not in the baseline set, and the library's is a call.
        constexpr std::uint8_t kBitsSet[16] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};
        const int nonzero = kBitsSet[vwxy & 15];
        const std::uint32_t signs = nonzero ? reader.ReadBitsRefill(nonzero) : 0;
        bitsRemaining -= nonzero;
        std::memcpy(dest + 4 * q, values.values[vwxy][signs & 15], sizeof values.values[0][0]);
        decoded = q;
        if (vwxy) {
            last = q;
            lastBits = vwxy;
        }
    }
    if (bitsRemaining < 0 && decoded >= 0) {
        // The last quadruple ran past part2_3_length: it belongs to no one.
        for (int k = 0; k < 4; ++k)
            dest[4 * decoded + k] = 0;
        if (last == decoded) {
            last = -1;
            for (int q = decoded - 1; q >= 0 && last < 0; --q) {
                const std::int32_t* v = dest + 4 * q;
                if (v[0] | v[1] | v[2] | v[3]) {
                    last = q;
                    lastBits = (v[0] != 0) << 3 | (v[1] != 0) << 2 | (v[2] != 0) << 1 | (v[3] != 0);
                }
            }
        }
    }
    if (last < 0)
        return 0;
    return (lastBits & 3) ? (last + 1) * 4 : last * 4 + 2;
}

} // namespace

int DecodeCount1(BitReader& reader, std::int32_t* dest, int linesAvailable, int bitsRemaining, bool tableB)
{
    BitReader local = reader;
    const int extent = decodeCount1(local, dest, linesAvailable, bitsRemaining, tableB);
    reader = local;
    return extent;
}

} // namespace morvik::mpeg
