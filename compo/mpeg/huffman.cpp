#include "compo/mpeg/huffman.h"

#include "compo/mpeg/cpufeatures.h"

#include <bit>
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

// l < r ? a : b by a conditional move: the choices made with it follow the
// data, so a branch would be mispredicted about as often as not, and the
// compiler does not always keep them free of branches by itself.
inline std::int64_t ifLess(std::int64_t l, std::int64_t r, std::int64_t a, std::int64_t b)
{
#if defined(__x86_64__) && defined(__GNUC__)
    __asm__("cmpq %[r], %[l]\n\tcmovlq %[a], %[b]" : [b] "+r"(b) : [l] "r"(l), [r] "re"(r), [a] "r"(a) : "cc");
    return b;
#else
    return l < r ? a : b;
#endif
}

// Reads for the Huffman decoder, with the effect on the BitReader that its
// own reads would have had.
//
// The bits come from a window of its own, topped up to 56..63 bits with
// one 8-byte load and no test on what it holds, so that one top-up serves
// two pairs (at most 21 bits each) or one pair with escapes (at most 45).
// Which bytes the reader has loaded, and with it pastEnd(), depends on when
// the reader's reads would have topped up its window: each read tops it up
// when it holds fewer bits than its threshold (PeekBits 11, GetBits n,
// ReadBitsRefill n + 2), and a top-up then loads up to the byte boundary at
// or below 32 bits past the current position. The cursor keeps that end
// (m_loaded) by the same rule, with conditional moves instead of branches
// on the data, and hands it back to the reader at the end. The reads are
// those of the reader's levels (tools/gen_tables.py; the leaves say where
// they were), not those of the tables' own levels.
//
// Untracked, the cursor skips that bookkeeping: it reads the same bits but
// keeps no loaded end, pastEnd() never holds, and the reader is handed back
// as if it had loaded nothing past the byte of its position. Whether a
// granule's data needs the bookkeeping at all is decided afterwards, from
// where its reads ended (DecodeGranuleCodes).
template <bool tracked>
class HuffmanCursor {
public:
    explicit HuffmanCursor(const BitReader& reader)
        : m_start(reader.m_start),
          m_size(reader.m_size),
          m_next(reader.m_next),
          m_bits(reader.m_window),
          m_position(reader.m_next * 8 - reader.m_valid),
          m_loaded(reader.m_next * 8),
          m_pastEnd(reader.m_endMark * 8 + 8)
    {
    }

    // The reader as its own reads would have left it: its window holds the
    // bits from the position to the loaded end, zeros below them.
    void storeTo(BitReader& reader)
    {
        refill();
        if constexpr (!tracked)
            m_loaded = (m_position + 7) & ~std::int64_t{7};
        const int held = static_cast<int>(m_loaded - m_position);
        reader.m_next = m_loaded / 8;
        reader.m_valid = held;
        reader.m_window = m_bits & ~(~std::uint64_t{0} >> held);
    }

    // To 56..63 bits in the window. The bits below them are zeros or the
    // stream's next bits, so that or-ing the same bytes again changes
    // nothing.
    void refill()
    {
        if (m_size - m_next >= 8) [[likely]] {
            std::uint64_t word;
            std::memcpy(&word, m_start + m_next, sizeof word);
            if constexpr (std::endian::native == std::endian::little)
                word = __builtin_bswap64(word);
            const int count = held();
            m_bits |= word >> count;
            m_next += (63 - count) >> 3;
        } else {
            refillNearEnd();
        }
    }

    // The reader's top-up before a read at bit `at` that needs `threshold`
    // bits held (0: no read).
    void checkAt(std::int64_t at, std::int64_t threshold)
    {
        // Unpredictable, so a conditional move rather than a branch; the
        // compare is against a bound worked out beside the chain of loaded
        // ends, not after it.
        if constexpr (tracked)
            m_loaded = ifLess(m_loaded, at + threshold, (at + 32) & ~std::int64_t{7}, m_loaded);
    }
    // The same `offset` bits past the position.
    void check(std::int64_t offset, std::int64_t threshold) { checkAt(m_position + offset, threshold); }

    bool pastEnd() const { return tracked && m_loaded >= m_pastEnd; }

    // Untracked, after the reads of a granule's data (see DecodeGranuleCodes):
    // whether the reader would now be past its end: 0 no, 1 yes, -1 it
    // depends on the loads, which were not tracked.
    int pastEndByPosition() const
    {
        if (m_position < m_pastEnd - 32)
            return 0;
        return m_position > m_pastEnd - 8 ? 1 : -1;
    }

    std::uint32_t peek(int n) const { return static_cast<std::uint32_t>(m_bits >> (64 - n)); }
    // The next 64 - shift bits.
    std::uint32_t peekShifted(int shift) const { return static_cast<std::uint32_t>(m_bits >> shift); }
    std::uint64_t bits() const { return m_bits; }

    void consume(int n)
    {
        m_bits <<= n;
        m_position += n;
    }

    // The leaf of the code whose first-level entry is `entry`, with the bits
    // of the links to it consumed (its own not yet).
    std::uint32_t leaf(std::uint32_t entry, const std::uint32_t* table, int width)
    {
        while ((entry >> 24) == 0) [[unlikely]] {
            consume(width);
            table += entry;
            width = static_cast<int>(table[0] & 0xFF);
            entry = table[1 + peek(width)];
        }
        return entry;
    }

    // The reader's peeks (threshold 11) at its levels for the code: at
    // `start`, and at the offsets from it that the leaf gives. An offset of 0 (no such level) repeats the check at `start`,
    // which cannot top up again: 11 bits are held there since the first.
    void checkLevels(std::int64_t start, std::uint32_t leaf)
    {
        checkAt(start, 11);
        checkAt(start + ((leaf >> 2) & 15), 11);
        if (leaf & 0x7F00) [[unlikely]] {
            const std::int64_t third = (leaf >> 8) & 15;
            checkAt(start + third, 11);
            checkAt(start + third + ((leaf >> 12) & 7), 11);
        }
    }

    // The reads of a pair whose code of `code` bits (peeked at `start` and,
    // for a code longer than the reader's first level, again `second` bits
    // later) is followed by sign bits, which need `need` bits held at
    // `start` (0 without sign bits). After a top-up at least 25 bits are
    // held, more than the rest of such a pair needs (at most 10 code bits
    // of which 6 before the second peek, 2 sign bits), so at most one of
    // the three tops up: the first whose need exceeds what was held at
    // `start`. All three are judged from that, side by side rather than one
    // after the other.
    void checkWhole(std::int64_t start, std::int64_t second, std::int64_t code, std::int64_t need)
    {
        if constexpr (!tracked)
            return;
        const std::int64_t held = m_loaded - start;
        std::int64_t loaded = ifLess(held, need, (start + code + 32) & ~std::int64_t{7}, m_loaded);
        loaded = ifLess(held, second + 11, (start + second + 32) & ~std::int64_t{7}, loaded);
        m_loaded = ifLess(held, 11, (start + 32) & ~std::int64_t{7}, loaded);
    }

    // The reads of a quadruple: its code, peeked or read at `start` with
    // `firstNeed` bits held, then its sign bits, which need `need` bits held
    // at `start` (0 without sign bits). As for a whole pair, at most one of
    // the two tops up: after a top-up 25 bits are held, and a quadruple
    // takes at most 10.
    void checkQuadruple(std::int64_t start, std::int64_t firstNeed, std::int64_t code, std::int64_t need)
    {
        if constexpr (!tracked)
            return;
        const std::int64_t held = m_loaded - start;
        const std::int64_t loaded = ifLess(held, need, (start + code + 32) & ~std::int64_t{7}, m_loaded);
        m_loaded = ifLess(held, firstNeed, (start + 32) & ~std::int64_t{7}, loaded);
    }

    std::int64_t position() const { return m_position; }

private:
    // Bits in the window.
    int held() const { return static_cast<int>(m_next * 8 - m_position); }

    void refillNearEnd()
    {
        for (int count = held(); count < 56; count += 8, ++m_next) {
            const std::uint64_t byte = m_next < m_size ? m_start[m_next] : 0;
            m_bits |= byte << (56 - count);
        }
    }

    const std::uint8_t* m_start;
    std::int64_t m_size;
    std::int64_t m_next;  // next byte of the window
    std::uint64_t m_bits;
    std::int64_t m_position;  // the reader's BitPosition()
    std::int64_t m_loaded;  // 8 times the reader's bytes loaded
    std::int64_t m_pastEnd;  // m_loaded from which pastEnd() holds
};

namespace {

struct SignedPair {
    std::int8_t x, y;
};

// The signed values of a pair by its unsigned ones and the next two bits
// (index (x + 16 y) << 2 | bits). The sign bits follow the code, one
// per nonzero value, x's first; with one nonzero value, the first bit is its.
struct SignedPairs {
    SignedPair pairs[1024];
    constexpr SignedPairs() : pairs()
    {
        for (int index = 0; index < 1024; ++index) {
            const int x = (index >> 2) & 15;
            const int y = index >> 6;
            const int first = (index >> 1) & 1;
            const int second = index & 1;
            pairs[index].x = static_cast<std::int8_t>(first ? -x : x);
            pairs[index].y = static_cast<std::int8_t>((x != 0 ? second : first) ? -y : y);
        }
    }
};
constexpr SignedPairs kSignedPairs;

// (v ^ -s) + s is -v for s = 1 and v for s = 0.
inline std::int32_t withSign(std::int32_t value, std::int32_t sign) { return (value ^ -sign) + sign; }

// One pair, at most 21 bits, or 45 with escapes; `escape` is known per
// region, so the test on the table kind leaves the inner loop. Its fields
// are taken from one view of the window and consumed with one shift; only
// the reader's top-ups go read by read.
template <bool escape, class Cursor>
inline void decodePairOf(Cursor& c, const std::uint32_t* table, int width, int readerWidth, int linbits,
                         std::int32_t& x, std::int32_t& y)
{
    const std::int64_t start = c.position();
    const std::uint32_t entry = table[1 + c.peekShifted(64 - width)];
    if (static_cast<std::int32_t>(entry) < 0) [[likely]] {
        // A whole leaf: the signed pair and the bits of its code and signs.
        const std::int64_t second = readerWidth & -static_cast<std::int64_t>((entry >> 30) & 1);
        c.checkWhole(start, second, entry & 15, (entry >> 4) & 15);
        x = static_cast<std::int8_t>(entry >> 8);
        y = static_cast<std::int8_t>(entry >> 16);
        c.consume(static_cast<int>((entry >> 24) & 31));
        return;
    }
    const std::uint32_t leaf = c.leaf(entry, table, width);
    c.checkLevels(start, leaf);
    const std::int64_t code = leaf >> 24;
    const std::int32_t vx = static_cast<std::int32_t>((leaf >> 16) & 15);
    const std::int32_t vy = static_cast<std::int32_t>((leaf >> 20) & 15);
    const std::uint64_t bits = c.bits();
    if constexpr (escape) {
        // After the code: x's linbits when x is 15, x's sign bit when x is
        // nonzero, then y's, each its own read. The reader reads the two
        // sign bits of a pair without a 15 together, which loads the same
        // bytes as reading them one by one: either way the window is topped
        // up exactly when fewer than 4 bits are held (one by one, at 3 held
        // bits, only for the second read, at 2 held bits), and a top-up at 2
        // or 3 held bits loads the same 3 bytes.
        //
        // A value of 0 has neither linbits nor a sign bit, and stays 0
        // whatever bit its sign is taken from, so the sign bits are taken
        // unmasked; linbits >= 1 in every escape table.
        const std::int64_t escapeX = -static_cast<std::int64_t>(vx == 15);  // all ones for a 15
        const std::int64_t escapeY = -static_cast<std::int64_t>(vy == 15);
        const std::int64_t linX = linbits & escapeX;
        const std::int64_t linY = linbits & escapeY;
        const std::int64_t signX = vx != 0;
        const std::int64_t signY = vy != 0;
        const std::int64_t atSignX = code + linX;
        const std::int64_t atLinY = atSignX + signX;
        const std::int64_t atSignY = atLinY + linY;
        c.check(code, (linbits + 2) & escapeX);
        c.check(atSignX, 3 & -signX);
        c.check(atLinY, (linbits + 2) & escapeY);
        c.check(atSignY, 3 & -signY);
        const int linShift = 64 - linbits;
        const auto extra = [&](std::int64_t at, std::int64_t escaped) {
            return static_cast<std::int32_t>(((bits << at) >> linShift) & escaped);
        };
        const auto sign = [&](std::int64_t at) { return static_cast<std::int32_t>((bits << at) >> 63); };
        x = withSign(vx + extra(code, escapeX), sign(atSignX));
        y = withSign(vy + extra(atLinY, escapeY), sign(atSignY));
        c.consume(static_cast<int>(atSignY + signY));
    } else {
        // The sign bits follow the code, one per nonzero value, x's first
        // (the leaf's low bits count them).
        const int nonzero = static_cast<int>(leaf & 3);
        c.check(code, (nonzero + 2) & -nonzero);  // 0, 3 or 4
        const SignedPair& pair = kSignedPairs.pairs[((leaf >> 14) & 0x3FC) | ((bits << code) >> 62)];
        x = pair.x;
        y = pair.y;
        c.consume(code + nonzero);
    }
}

template <bool escape, class Cursor>
void decodeRegion(Cursor& c, std::int32_t* dest, int lineCount, const HuffDescriptor& d)
{
    const std::uint32_t* table = d.table;
    const int width = static_cast<int>(table[0] & 0xFF);
    const int readerWidth = static_cast<int>((table[0] >> 8) & 0xFF);
    const int linbits = d.linbits;
    int i = 0;
    if constexpr (!escape) {
        for (; i + 3 < lineCount; i += 4) {
            c.refill();
            decodePairOf<false>(c, table, width, readerWidth, linbits, dest[i], dest[i + 1]);
            if (c.pastEnd())
                return;
            decodePairOf<false>(c, table, width, readerWidth, linbits, dest[i + 2], dest[i + 3]);
            if (c.pastEnd())
                return;
        }
    }
    for (; i + 1 < lineCount; i += 2) {
        c.refill();
        decodePairOf<escape>(c, table, width, readerWidth, linbits, dest[i], dest[i + 1]);
        if (c.pastEnd())
            return;
    }
}

} // namespace

void decodePair(BitReader& reader, const HuffDescriptor& d, std::int32_t& x, std::int32_t& y)
{
    HuffmanCursor<true> c(reader);
    c.refill();
    const int width = static_cast<int>(d.table[0] & 0xFF);
    const int readerWidth = static_cast<int>((d.table[0] >> 8) & 0xFF);
    if (d.kind == HuffKind::Escape)
        decodePairOf<true>(c, d.table, width, readerWidth, d.linbits, x, y);
    else
        decodePairOf<false>(c, d.table, width, readerWidth, d.linbits, x, y);
    c.storeTo(reader);
}

namespace {

template <class Cursor>
void decodeBigValues(Cursor& c, std::int32_t* dest, int lineCount, int tableNumber)
{
    const HuffDescriptor& d = kHuffDescriptors[tableNumber & 31];
    if (d.kind == HuffKind::Zero) {
        for (int i = 0; i < lineCount; ++i)
            dest[i] = 0;
        return;
    }
    if (d.kind == HuffKind::Escape)
        decodeRegion<true>(c, dest, lineCount, d);
    else
        decodeRegion<false>(c, dest, lineCount, d);
}

} // namespace

// The cursor is a local object whose address no store through dest can
// reach, so its fields stay in registers.
void DecodeBigValues(BitReader& reader, std::int32_t* dest, int lineCount, int tableNumber)
{
    HuffmanCursor<true> c(reader);
    decodeBigValues(c, dest, lineCount, tableNumber);
    c.storeTo(reader);
}

namespace {

// Bits set in a 4-bit value.
constexpr int bitsSet(int value)
{
    return (value & 1) + ((value >> 1) & 1) + ((value >> 2) & 1) + ((value >> 3) & 1);
}

// Quadruples by the next 10 bits (table A) or 8 bits (table B), which hold
// the code and all its sign bits (one per nonzero value, v's first), and the
// four values of each, ready to be copied.
//
// A lookup word: bits 0..7 the row of `values` (vwxy << 4 | sign bits), 8..11
// the bits of code and signs, 12..15 the code's, 16..19 the bits the reader
// needed held before the code for its sign read (code + sign bits + 2; 0
// without sign bits).
struct Count1Tables {
    std::int32_t values[256][4];
    std::uint32_t tableA[1024];
    std::uint32_t tableB[256];

    Count1Tables()
    {
        for (int vwxy = 0; vwxy < 16; ++vwxy)
            for (int signs = 0; signs < 16; ++signs) {
                int signsLeft = bitsSet(vwxy);
                for (int k = 0; k < 4; ++k) {
                    const int value = (vwxy >> (3 - k)) & 1;
                    signsLeft -= value;
                    const int negative = (signs >> signsLeft) & value;
                    values[vwxy << 4 | signs][k] = value - 2 * negative;
                }
            }
        for (int index = 0; index < 1024; ++index) {
            const std::uint16_t entry = kCount1TableA[index >> 4];
            tableA[index] = word(entry & 15, entry >> 8, index, 10);
        }
        for (int index = 0; index < 256; ++index)
            tableB[index] = word((index >> 4) ^ 15, 4, index, 8);
    }

    static std::uint32_t word(int vwxy, int code, int index, int width)
    {
        const int nonzero = bitsSet(vwxy);
        const int signs = (index >> (width - code - nonzero)) & ((1 << nonzero) - 1);
        const int need = nonzero ? code + nonzero + 2 : 0;
        return static_cast<std::uint32_t>(vwxy << 4 | signs | (code + nonzero) << 8 | code << 12 | need << 16);
    }
};

const Count1Tables& count1Tables()
{
    static const Count1Tables tables;
    return tables;
}

template <class Cursor>
int decodeCount1(Cursor& c, std::int32_t* dest, int linesAvailable, int bitsRemaining, bool tableB)
{
    const Count1Tables& tables = count1Tables();
    const std::uint32_t* lookup = tableB ? tables.tableB : tables.tableA;
    const int shift = tableB ? 64 - 8 : 64 - 10;
    // Table B's code is read with GetBits(4), table A's peeked (PeekBits);
    // decoding stops when fewer bits than B's code (or none) remain.
    const int firstNeed = tableB ? 4 : 11;
    const int fewest = tableB ? 4 : 1;
    const int quads = linesAvailable / 4;
    int last = -1;
    int lastBits = 0;
    int decoded = -1;
    for (int q = 0; q < quads && !c.pastEnd(); ++q) {
        if (bitsRemaining < fewest)
            break;
        // A quadruple takes at most 10 bits.
        c.refill();
        const std::int64_t start = c.position();
        const std::uint32_t entry = lookup[c.peekShifted(shift)];
        c.checkQuadruple(start, firstNeed, (entry >> 12) & 15, (entry >> 16) & 15);
        std::memcpy(dest + 4 * q, tables.values[entry & 0xFF], sizeof tables.values[0]);
        const int bits = static_cast<int>((entry >> 8) & 15);
        c.consume(bits);
        bitsRemaining -= bits;
        decoded = q;
        const int vwxy = static_cast<int>((entry >> 4) & 15);
        last = static_cast<int>(ifLess(0, vwxy, q, last));
        lastBits = static_cast<int>(ifLess(0, vwxy, vwxy, lastBits));
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
    HuffmanCursor<true> c(reader);
    const int extent = decodeCount1(c, dest, linesAvailable, bitsRemaining, tableB);
    c.storeTo(reader);
    return extent;
}

namespace {

template <class Cursor>
int decodeGranule(Cursor& c, std::int32_t* dest, const GranuleCodes& codes)
{
    int from = 0;
    for (int region = 0; region < 3; ++region) {
        decodeBigValues(c, dest + from, codes.regionEnd[region] - from, codes.tables[region]);
        from = codes.regionEnd[region];
    }
    const int bitsLeft = static_cast<int>(codes.dataEnd - c.position());
    return decodeCount1(c, dest + from, 576 - from, bitsLeft, codes.count1B);
}

// Which bytes the reader has loaded matters only through pastEnd(), and
// only at the end of a granule's data: once it holds, the granule is void
// whatever was decoded, and the stops it causes on the way change nothing
// else. So the data are first decoded untracked, with the same reads, and
// where those reads ended mostly settles it. With P = 8 * (end pointer + 1),
// pastEnd() holds once the loaded end reaches P. A top-up at bit `at`
// loads to (at + 32) & ~7, which reaches P (a multiple of 8) only for at >=
// P - 32; and every read starts at or before the final position. So reads
// that ended before P - 32 never made pastEnd() hold, and took the same
// course tracked. The loaded end is never behind the position, so reads
// that ended past P - 8 left it at P or beyond, a multiple of 8; tracked,
// the reads would have made pastEnd() hold there or stopped earlier for it.
// Only in between (or when the reader was past its end already) do the
// data go again, tracked, from where they started.
int decodeGranuleCodes(BitReader& reader, std::int32_t* dest, const GranuleCodes& codes)
{
    if (!reader.pastEnd()) {
        HuffmanCursor<false> c(reader);
        const int extent = decodeGranule(c, dest, codes);
        const int pastEnd = c.pastEndByPosition();
        if (pastEnd >= 0) {
            c.storeTo(reader);
            return pastEnd ? -1 : extent;
        }
    }
    HuffmanCursor<true> c(reader);
    const int extent = decodeGranule(c, dest, codes);
    c.storeTo(reader);
    return c.pastEnd() ? -1 : extent;
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define MORVIK_HUFFMAN_X86_64_V3 1
// The same, compiled for the x86-64-v3 level: its shifts by a count in any
// register (BMI2) and its loads with a byte swap (MOVBE) shorten the chain
// from one code to the next. Integer work only, so the values are the
// same; every call is inlined, so that all of it is compiled for the level.
__attribute__((target("arch=x86-64-v3"), flatten)) int decodeGranuleCodesX86_64v3(BitReader& reader,
                                                                                    std::int32_t* dest,
                                                                                    const GranuleCodes& codes)
{
    return decodeGranuleCodes(reader, dest, codes);
}
#endif

std::vector<DecodeGranuleCodesFn> granuleCodesForms()
{
    std::vector<DecodeGranuleCodesFn> forms{decodeGranuleCodes};
#ifdef MORVIK_HUFFMAN_X86_64_V3
    if (hostInstructionSets().x86_64v3)
        forms.push_back(decodeGranuleCodesX86_64v3);
#endif
    return forms;
}

} // namespace

const std::vector<DecodeGranuleCodesFn>& GranuleCodesForms()
{
    static const std::vector<DecodeGranuleCodesFn> forms = granuleCodesForms();
    return forms;
}

int DecodeGranuleCodes(BitReader& reader, std::int32_t* dest, const GranuleCodes& codes)
{
    static const DecodeGranuleCodesFn here = GranuleCodesForms().back();
    return here(reader, dest, codes);
}

} // namespace morvik::mpeg
