// Layer III Huffman decoding against a plain model of it: the standard's
// code words read through BitReader's own calls, level by level, as the
// decoder's reader semantics are defined (PeekBits per lookup level of the
// widths below, ReadBitsRefill for linbits and sign bits, GetBits for count1
// table B). Values, the point where a region stops at the data end, the
// position and the bytes the reader has loaded must all agree.
#include "compo/mpeg/bitreader.h"
#include "compo/mpeg/huffman.h"

#include "huffmancodes.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace morvik::mpeg;

namespace {

using huffmancodes::Code;
using huffmancodes::readStandardCodes;

// The widths the reader peeks by: a first level per table, then subtables of
// the longest remaining code, at most 6 bits.
int firstPeekWidth(int source)
{
    static const std::map<int, int> widths = {{1, 3},  {2, 6},  {3, 6},  {5, 8},  {6, 7},
                                              {7, 6},  {8, 8},  {9, 6},  {10, 8}, {11, 8},
                                              {12, 7}, {13, 6}, {15, 8}, {16, 8}, {24, 9}};
    return widths.at(source);
}

const int kLinbits[32] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                          1, 2, 3, 4, 6, 8, 10, 13, 4, 5, 6, 7, 8, 9, 11, 13};

int sourceTable(int number) { return number < 16 ? number : (number < 24 ? 16 : 24); }

std::string asBits(std::uint32_t value, int width)
{
    std::string bits;
    for (int i = width - 1; i >= 0; --i)
        bits += ((value >> i) & 1) ? '1' : '0';
    return bits;
}

// A table's code words by their bits, and for every proper prefix of one
// the length of the longest code word it starts.
struct CodeSet {
    std::map<std::string, std::pair<int, int>> values;
    std::map<std::string, std::size_t> longest;
};

std::map<int, CodeSet> codeSets(const std::map<int, std::vector<Code>>& tables)
{
    std::map<int, CodeSet> sets;
    for (const auto& [number, codes] : tables) {
        CodeSet& set = sets[number];
        for (const Code& c : codes) {
            set.values[c.bits] = {c.x, c.y};
            for (std::size_t k = 1; k < c.bits.size(); ++k) {
                std::size_t& longest = set.longest[c.bits.substr(0, k)];
                longest = std::max(longest, c.bits.size());
            }
        }
    }
    return sets;
}

// One code by the reader's levels; bits no code starts with decode as zeros.
void modelCode(BitReader& r, const CodeSet& set, int width, int& x, int& y)
{
    std::string prefix;
    for (;;) {
        const std::string peeked = prefix + asBits(r.PeekBits(width), width);
        for (std::size_t n = prefix.size() + 1; n <= peeked.size(); ++n) {
            const auto found = set.values.find(peeked.substr(0, n));
            if (found != set.values.end()) {
                r.skipHeld(static_cast<int>(n - prefix.size()));
                x = found->second.first;
                y = found->second.second;
                return;
            }
        }
        r.skipHeld(width);
        const auto deeper = set.longest.find(peeked);
        if (deeper == set.longest.end()) {
            x = y = 0;
            return;
        }
        prefix = peeked;
        width = static_cast<int>(std::min<std::size_t>(deeper->second - peeked.size(), 6));
    }
}

int modelSigned(BitReader& r, int value, int linbits)
{
    if (value == 15 && linbits > 0)
        value += static_cast<int>(r.ReadBitsRefill(linbits));
    if (value != 0 && r.ReadBitsRefill(1))
        value = -value;
    return value;
}

void modelBigValues(BitReader& r, std::int32_t* dest, int lineCount, int number,
                    const std::map<int, CodeSet>& sets)
{
    if (number == 0 || number == 4 || number == 14) {
        std::fill(dest, dest + lineCount, 0);
        return;
    }
    const int source = sourceTable(number);
    const int linbits = kLinbits[number];
    for (int i = 0; i + 1 < lineCount; i += 2) {
        int x = 0, y = 0;
        modelCode(r, sets.at(source), firstPeekWidth(source), x, y);
        if (linbits > 0 && (x == 15 || y == 15)) {
            x = modelSigned(r, x, linbits);
            y = modelSigned(r, y, linbits);
        } else {
            const int nonzero = (x != 0) + (y != 0);
            const std::uint32_t signs = nonzero ? r.ReadBitsRefill(nonzero) : 0;
            if (x != 0 && (signs >> (nonzero - 1)) & 1)
                x = -x;
            if (y != 0 && signs & 1)
                y = -y;
        }
        dest[i] = x;
        dest[i + 1] = y;
        if (r.pastEnd())
            return;
    }
}

int modelCount1(BitReader& r, std::int32_t* dest, int linesAvailable, int bitsRemaining, bool tableB,
                const CodeSet& codesA)
{
    int extent = 0;
    int decoded = -1;
    for (int q = 0; q < linesAvailable / 4 && !r.pastEnd(); ++q) {
        int vwxy = 0;
        if (tableB) {
            if (bitsRemaining < 4)
                break;
            vwxy = static_cast<int>(r.GetBits(4)) ^ 15;
            bitsRemaining -= 4;
        } else {
            if (bitsRemaining <= 0)
                break;
            const int start = r.BitPosition();
            int unused = 0;
            modelCode(r, codesA, 6, vwxy, unused);
            bitsRemaining -= r.BitPosition() - start;
        }
        int values[4];
        for (int k = 0; k < 4; ++k) {
            values[k] = (vwxy >> (3 - k)) & 1;
            if (values[k] && r.ReadBitsRefill(1))
                values[k] = -1;
            bitsRemaining -= values[k] != 0;
        }
        std::copy(values, values + 4, dest + 4 * q);
        decoded = q;
    }
    if (bitsRemaining < 0 && decoded >= 0)
        std::fill(dest + 4 * decoded, dest + 4 * decoded + 4, 0);
    for (int line = 4 * (decoded + 1) - 1; line >= 0 && extent == 0; --line)
        if (dest[line] != 0)
            extent = line / 2 * 2 + 2;
    return extent;
}

// The three regions and count1 of a granule, each read by the model as the
// decoder reads them one after the other; returns count1's extent.
int decodeModel(BitReader& r, std::int32_t* dest, const GranuleCodes& codes, const std::map<int, CodeSet>& sets)
{
    int from = 0;
    for (int region = 0; region < 3; ++region) {
        modelBigValues(r, dest + from, codes.regionEnd[region] - from, codes.tables[region], sets);
        from = codes.regionEnd[region];
    }
    const int bitsLeft = static_cast<int>(codes.dataEnd - r.BitPosition());
    return modelCount1(r, dest + from, 576 - from, bitsLeft, codes.count1B, sets.at(32));
}

std::unique_ptr<std::uint8_t[]> exactCopy(const std::vector<std::uint8_t>& bytes)
{
    auto copy = std::make_unique<std::uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), copy.get());
    return copy;
}

class Random {
public:
    explicit Random(std::uint32_t seed) : m_seed(seed) {}
    std::uint32_t below(std::uint32_t range)
    {
        m_seed = m_seed * 1103515245u + 12345u;
        return (m_seed >> 8) % range;
    }

private:
    std::uint32_t m_seed;
};

// Bytes with runs of zeros and of ones mixed in, so that short codes, long
// codes and escapes with their linbits all come up.
std::vector<std::uint8_t> testBytes(Random& random, int size)
{
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    for (std::uint8_t& b : bytes) {
        const auto kind = random.below(4);
        b = static_cast<std::uint8_t>(kind == 0 ? 0 : kind == 1 ? 0xFF : random.below(256));
    }
    return bytes;
}

// A reader of the `size` bytes at `data`, its data end at byte `dataEnd`,
// `skip` bits in.
BitReader readerAt(const std::uint8_t* data, int size, int dataEnd, int skip)
{
    BitReader r;
    r.BitReaderStart(data, size);
    r.BitReaderSetEnd(data + dataEnd);
    r.GetBits(skip);
    return r;
}

void expectSameReader(BitReader& a, BitReader& b, const std::string& where)
{
    EXPECT_EQ(a.BitPosition(), b.BitPosition()) << where;
    EXPECT_EQ(a.bytesLoaded(), b.bytesLoaded()) << where;
    EXPECT_EQ(a.pastEnd(), b.pastEnd()) << where;
    // The window: the same bits follow, whatever was held.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(a.GetBits(25), b.GetBits(25)) << where << ", read " << i;
    EXPECT_EQ(a.bytesLoaded(), b.bytesLoaded()) << where << " after reading on";
}

// Every table over buffers of 0..72 bytes (exactly their size, so that
// AddressSanitizer sees any load past them), starting at any bit of the
// first byte, with the data end at every byte up to just past the buffer:
// regions that stop at their first pair, mid-way, on their last pair or
// not at all, three regions in a row as a granule has them.
TEST(Huffman, BigValuesAgreeWithTheReaderModelAtEveryDataEnd)
{
    const auto tables = readStandardCodes();
    const auto sets = codeSets(tables);
    Random random(2024);
    int stopped = 0, completed = 0;
    for (int number = 0; number < 32; ++number) {
        for (int size : {0, 3, 9, 17, 40, 72}) {
            const auto bytes = testBytes(random, size);
            const auto exact = exactCopy(bytes);
            for (int dataEnd = 0; dataEnd <= size; ++dataEnd) {
                const int skip = static_cast<int>(random.below(8));
                int lines[3];
                for (int& n : lines)
                    n = static_cast<int>(random.below(60));
                BitReader a = readerAt(exact.get(), size, dataEnd, skip);
                BitReader b = a;
                std::int32_t got[180], want[180];
                std::fill(got, got + 180, 99);
                std::fill(want, want + 180, 99);
                const std::string where = "table " + std::to_string(number) + " size " + std::to_string(size) +
                                          " end " + std::to_string(dataEnd);
                int at = 0;
                for (int n : lines) {
                    const int table = (n & 1) ? number : (number + 7) % 32;
                    DecodeBigValues(a, got + at, n, table);
                    modelBigValues(b, want + at, n, table, sets);
                    at += n;
                }
                for (int i = 0; i < 180; ++i)
                    ASSERT_EQ(got[i], want[i]) << where << " line " << i;
                (b.pastEnd() ? stopped : completed)++;
                expectSameReader(a, b, where);
            }
        }
    }
    EXPECT_GT(stopped, 1000);
    EXPECT_GT(completed, 500);
}

// Pairs that do not fit the first-level tables in one piece: long codes,
// escapes with the largest linbits, in a buffer long enough for the fast
// path, from every bit of the first byte, in regions of any length, with
// the data end swept across the last pairs.
TEST(Huffman, LongCodesAndEscapesAgreeWithTheReaderModel)
{
    const auto tables = readStandardCodes();
    const auto sets = codeSets(tables);
    Random random(7);
    for (int number : {13, 15, 16, 23, 24, 31}) {
        const std::vector<Code>& codes = tables.at(sourceTable(number));
        // Only the longest codes and those with a 15, each followed by ones
        // (largest linbits, negative signs) or zeros.
        std::string bits;
        while (bits.size() < 8 * 160) {
            const Code& c = codes[random.below(static_cast<std::uint32_t>(codes.size()))];
            if (c.bits.size() < 9 && c.x != 15 && c.y != 15)
                continue;
            bits += c.bits + std::string(random.below(30), random.below(2) ? '1' : '0');
        }
        std::vector<std::uint8_t> bytes(bits.size() / 8);
        for (std::size_t i = 0; i < bytes.size() * 8; ++i)
            if (bits[i] == '1')
                bytes[i / 8] |= static_cast<std::uint8_t>(0x80 >> (i % 8));
        const auto exact = exactCopy(bytes);
        const int size = static_cast<int>(bytes.size());
        for (int dataEnd = size - 80; dataEnd <= size; ++dataEnd) {
            for (int skip = 0; skip < 8; ++skip) {
                const int lines = 2 + static_cast<int>(random.below(575));
                BitReader a = readerAt(exact.get(), size, dataEnd, skip);
                BitReader b = a;
                std::vector<std::int32_t> got(576, 99), want(576, 99);
                DecodeBigValues(a, got.data(), lines, number);
                modelBigValues(b, want.data(), lines, number, sets);
                const std::string where = "table " + std::to_string(number) + " end " + std::to_string(dataEnd) +
                                          " skip " + std::to_string(skip) + " lines " + std::to_string(lines);
                ASSERT_EQ(got, want) << where;
                expectSameReader(a, b, where);
            }
        }
    }
}

// Every code of every table as a region of one pair, its linbits and sign
// bits all ones or all zeros, at every bit alignment of the window: the
// bytes loaded after the pair (the last read of a pair can be the one that
// tops the window up) and the value agree.
TEST(Huffman, EveryPairAtEveryAlignmentLoadsWhatTheReaderLoads)
{
    const auto tables = readStandardCodes();
    const auto sets = codeSets(tables);
    int pairs = 0;
    for (int number = 1; number < 32; ++number) {
        if (number == 4 || number == 14)
            continue;
        for (const Code& c : tables.at(sourceTable(number))) {
            // Tables 17..23 and 25..31 differ from 16 and 24 only in linbits.
            if (number != sourceTable(number) && c.x != 15 && c.y != 15)
                continue;
            for (int skip = 0; skip < 32; ++skip) {
                for (char fill : {'0', '1'}) {
                    std::string bits(static_cast<std::size_t>(skip), '1');
                    bits += c.bits + std::string(30, fill) + std::string(64, '0');
                    std::vector<std::uint8_t> bytes(bits.size() / 8);
                    for (std::size_t i = 0; i < bytes.size() * 8; ++i)
                        if (bits[i] == '1')
                            bytes[i / 8] |= static_cast<std::uint8_t>(0x80 >> (i % 8));
                    BitReader a, b;
                    for (BitReader* r : {&a, &b}) {
                        r->BitReaderStart(bytes.data(), static_cast<std::int32_t>(bytes.size()));
                        r->GetBits(skip / 2);
                        r->GetBits(skip - skip / 2);
                    }
                    std::int32_t got[2] = {99, 99}, want[2] = {99, 99};
                    DecodeBigValues(a, got, 2, number);
                    modelBigValues(b, want, 2, number, sets);
                    const std::string where = "table " + std::to_string(number) + " code " + c.bits + " skip " +
                                              std::to_string(skip) + " fill " + fill;
                    ASSERT_EQ(got[0], want[0]) << where;
                    ASSERT_EQ(got[1], want[1]) << where;
                    ASSERT_EQ(a.bytesLoaded(), b.bytesLoaded()) << where;
                    ASSERT_EQ(a.BitPosition(), b.BitPosition()) << where;
                    ++pairs;
                }
            }
        }
    }
    EXPECT_GT(pairs, 50000);
}

// Count1 quadruples of both tables: values, extent, the bit budget cut at
// every length, and the data end at every byte.
TEST(Huffman, Count1AgreesWithTheReaderModel)
{
    const auto tables = readStandardCodes();
    const auto sets = codeSets(tables);
    Random random(99);
    for (bool tableB : {false, true}) {
        for (int size : {0, 2, 11, 30, 64}) {
            const auto bytes = testBytes(random, size);
            const auto exact = exactCopy(bytes);
            for (int dataEnd = 0; dataEnd <= size; ++dataEnd) {
                for (int budget = 0; budget <= 8 * size + 12; budget += 1 + static_cast<int>(random.below(7))) {
                    const int skip = static_cast<int>(random.below(8));
                    const int lines = 4 * static_cast<int>(random.below(40)) + static_cast<int>(random.below(4));
                    BitReader a = readerAt(exact.get(), size, dataEnd, skip);
                    BitReader b = a;
                    std::int32_t got[164], want[164];
                    std::fill(got, got + 164, 0);
                    std::fill(want, want + 164, 0);
                    const std::string where = std::string(tableB ? "B" : "A") + " size " + std::to_string(size) +
                                              " end " + std::to_string(dataEnd) + " budget " +
                                              std::to_string(budget);
                    const int extent = DecodeCount1(a, got, lines, budget, tableB);
                    ASSERT_EQ(extent, modelCount1(b, want, lines, budget, tableB, sets.at(32))) << where;
                    for (int i = 0; i < 164; ++i)
                        ASSERT_EQ(got[i], want[i]) << where << " line " << i;
                    expectSameReader(a, b, where);
                }
            }
        }
    }
}

// A granule's data as the decoder takes them: three regions and count1,
// decoded in one pass whose loads are only reckoned when the end of the
// reads lies near the data end. Against the model, region by region, with
// the data end put at every byte around where the reads end: granules
// within their data, granules whose reads end in the bytes where only the
// loads tell, and granules read past their end (the result is then void).
TEST(Huffman, GranuleCodesAgreeWithTheReaderModelAroundTheDataEnd)
{
    const auto tables = readStandardCodes();
    const auto sets = codeSets(tables);
    Random random(4242);
    const int size = 2000;
    int within = 0, undecided = 0, past = 0;
    for (int granule = 0; granule < 300; ++granule) {
        const auto bytes = testBytes(random, size);
        const auto exact = exactCopy(bytes);
        GranuleCodes codes{};
        int ends[3];
        for (int& end : ends)
            end = 2 * static_cast<int>(random.below(289));
        std::sort(ends, ends + 3);
        for (int region = 0; region < 3; ++region) {
            codes.regionEnd[region] = ends[region];
            codes.tables[region] = static_cast<int>(random.below(32));
        }
        codes.count1B = random.below(2) != 0;
        const int skip = static_cast<int>(random.below(8));
        // Where the big values end, to put the end of count1 after them.
        BitReader probe = readerAt(exact.get(), size, size, skip);
        std::vector<std::int32_t> scratch(576);
        for (int region = 0, from = 0; region < 3; from = ends[region++])
            modelBigValues(probe, scratch.data() + from, ends[region] - from, codes.tables[region], sets);
        codes.dataEnd = probe.BitPosition() + random.below(300);
        // Where all the reads end, with no data end on the way.
        const int readsEnd = [&] {
            BitReader r = readerAt(exact.get(), size, size, skip);
            std::vector<std::int32_t> values(576);
            decodeModel(r, values.data(), codes, sets);
            return r.BitPosition();
        }();
        ASSERT_LT(readsEnd, 8 * size - 64) << "granule " << granule;
        for (int endByte = readsEnd / 8 - 6; endByte <= readsEnd / 8 + 6; ++endByte) {
            if (endByte < 0)
                continue;
            BitReader b = readerAt(exact.get(), size, endByte, skip);
            std::vector<std::int32_t> want(576, 99);
            const int wantExtent = decodeModel(b, want.data(), codes, sets);
            const int loadsPastEnd = 8 * (endByte + 1);
            if (readsEnd < loadsPastEnd - 32)
                ++within;
            else if (readsEnd > loadsPastEnd - 8)
                ++past;
            else
                ++undecided;
            const auto& forms = GranuleCodesForms();
            for (std::size_t form = 0; form < forms.size(); ++form) {
                BitReader a = readerAt(exact.get(), size, endByte, skip);
                std::vector<std::int32_t> got(576, 99);
                const int extent = forms[form](a, got.data(), codes);
                const std::string where = "granule " + std::to_string(granule) + " end byte " +
                                          std::to_string(endByte) + " form " + std::to_string(form);
                ASSERT_EQ(extent, b.pastEnd() ? -1 : wantExtent) << where;
                if (extent < 0)
                    continue;
                ASSERT_EQ(got, want) << where;
                ASSERT_EQ(a.BitPosition(), b.BitPosition()) << where;
                ASSERT_FALSE(a.pastEnd()) << where;
            }
        }
    }
    EXPECT_GT(within, 300);
    EXPECT_GT(undecided, 600);
    EXPECT_GT(past, 300);
}

} // namespace
