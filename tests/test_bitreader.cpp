// The bit reader every layer uses: values, positions and its rule at the end
// of its buffer (zeros from there on, no byte past it ever loaded).
#include "compo/mpeg/bitreader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using namespace morvik::mpeg;

namespace {

// The bytes in a heap block of exactly their size, so that AddressSanitizer
// reports any load past the end.
std::unique_ptr<std::uint8_t[]> exactCopy(const std::vector<std::uint8_t>& bytes)
{
    auto copy = std::make_unique<std::uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), copy.get());
    return copy;
}

enum class Op : char { Get = 'g', Refill = 'r', Peek = 'p', Skip = 's', Wide = 'w' };

struct Step {
    Op op;
    int n;
    std::uint32_t value;  // for Skip: unused
    int position;  // BitPosition() after the step
};

std::uint32_t apply(BitReader& r, Op op, int n)
{
    switch (op) {
    case Op::Get:
        return r.GetBits(n);
    case Op::Refill:
        return r.ReadBitsRefill(n);
    case Op::Peek:
        return r.PeekBits(n);
    case Op::Skip:
        r.skipHeld(n);
        return 0;
    case Op::Wide:
        return r.GetWideBits(n);
    }
    return 0;
}

TEST(BitReader, ReadsZerosPastTheEndOfItsBuffer)
{
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"empty buffer", {}, {{Op::Get, 12, 0, 12}, {Op::Get, 25, 0, 37}, {Op::Peek, 11, 0, 37}}},
        {"read straddling the last byte",
         {0xAB},
         {{Op::Get, 4, 0xA, 4}, {Op::Get, 8, 0xB0, 12}, {Op::Get, 4, 0, 16}}},
        {"25-bit read across the end", {0xFF, 0xFF, 0xFF}, {{Op::Get, 25, 0x1FFFFFE, 25}, {Op::Get, 7, 0, 32}}},
        {"peek and skip across the end",
         {0x80, 0x01},
         {{Op::Get, 15, 0x4000, 15}, {Op::Peek, 11, 0x400, 15}, {Op::Skip, 1, 0, 16}, {Op::Peek, 11, 0, 16}}},
        {"sign bits after the last byte",
         {0x01},
         {{Op::Get, 7, 0, 7}, {Op::Refill, 2, 0x2, 9}, {Op::Refill, 4, 0, 13}}},
        {"four bytes left, then three",
         {0x12, 0x34, 0x56, 0x78, 0x9A},
         {{Op::Get, 8, 0x12, 8}, {Op::Get, 25, 0x68ACF1, 33}, {Op::Get, 10, 0xD0, 43}, {Op::Get, 21, 0, 64}}},
        {"reading on long after the end",
         {0xC3},
         {{Op::Get, 2, 0x3, 2}, {Op::Get, 25, 0x180000, 27}, {Op::Get, 25, 0, 52}, {Op::Get, 25, 0, 77},
          {Op::Get, 25, 0, 102}}},
        {"wide reads near the end",
         {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC},
         {{Op::Wide, 32, 0x12345678, 32}, {Op::Wide, 20, 0x9ABC0, 52}, {Op::Wide, 32, 0, 84}}},
        {"wide reads from the fast path into the end",
         {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
         {{Op::Wide, 1, 1, 1}, {Op::Wide, 32, 0xFFFFFFFF, 33}, {Op::Wide, 32, 0xFFFFFFFF, 65},
          {Op::Wide, 32, 0xFE000000, 97}, {Op::Get, 3, 0, 100}}},
    };
    for (const Case& c : cases) {
        const auto data = exactCopy(c.bytes);
        BitReader r;
        r.BitReaderStart(data.get(), static_cast<std::int32_t>(c.bytes.size()));
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            const Step& s = c.steps[i];
            const std::uint32_t value = apply(r, s.op, s.n);
            if (s.op != Op::Skip) {
                EXPECT_EQ(value, s.value) << c.name << ", step " << i;
            }
            EXPECT_EQ(r.BitPosition(), s.position) << c.name << ", step " << i;
        }
    }
}

// Bit `index` of `bytes`, most significant first; 0 past the end.
std::uint32_t bitAt(const std::vector<std::uint8_t>& bytes, int index)
{
    const auto byte = static_cast<std::size_t>(index / 8);
    return byte < bytes.size() ? (bytes[byte] >> (7 - index % 8)) & 1u : 0u;
}

std::uint32_t bitsAt(const std::vector<std::uint8_t>& bytes, int index, int n)
{
    std::uint32_t value = 0;
    for (int i = 0; i < n; ++i)
        value = (value << 1) | bitAt(bytes, index + i);
    return value;
}

// Pseudo-random reads of every kind, narrow and wide mixed, over buffers of
// 0..40 bytes: every value matches the bits of the buffer followed by zeros,
// and the reader over the exact buffer loads, counts and reports its data end
// as the same reader over the bytes followed by slack does (the fast path
// everywhere).
TEST(BitReader, ExactBufferAgreesWithSlackEverywhere)
{
    std::uint32_t seed = 12345;
    auto next = [&seed](std::uint32_t range) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % range;
    };
    for (int size = 0; size <= 40; ++size) {
        for (int round = 0; round < 20; ++round) {
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
            for (std::uint8_t& b : bytes)
                b = static_cast<std::uint8_t>(next(256));
            std::vector<std::uint8_t> padded = bytes;
            padded.resize(bytes.size() + 64, 0);
            const auto exact = exactCopy(bytes);
            const int dataEnd = static_cast<int>(next(static_cast<std::uint32_t>(size) + 1));
            BitReader a, b;
            a.BitReaderStart(exact.get(), size);
            a.BitReaderSetEnd(exact.get() + dataEnd);
            b.BitReaderStart(padded.data(), static_cast<std::int32_t>(padded.size()));
            b.BitReaderSetEnd(padded.data() + dataEnd);
            const std::string where = "size " + std::to_string(size) + " round " + std::to_string(round);
            while (a.BitPosition() < 8 * size + 40) {
                const int position = a.BitPosition();
                const auto kind = next(4);
                std::uint32_t va = 0, vb = 0, expected = 0;
                if (kind == 0) {
                    const int n = static_cast<int>(next(26));
                    va = a.GetBits(n), vb = b.GetBits(n), expected = bitsAt(bytes, position, n);
                } else if (kind == 1) {
                    const int n = 1 + static_cast<int>(next(13));
                    va = a.ReadBitsRefill(n), vb = b.ReadBitsRefill(n), expected = bitsAt(bytes, position, n);
                } else if (kind == 2) {
                    const int n = 1 + static_cast<int>(next(11));
                    const int used = 1 + static_cast<int>(next(static_cast<std::uint32_t>(n)));
                    va = a.PeekBits(n), vb = b.PeekBits(n), expected = bitsAt(bytes, position, n);
                    a.skipHeld(used);
                    b.skipHeld(used);
                } else {
                    const int n = static_cast<int>(next(33));
                    va = a.GetWideBits(n), vb = b.GetWideBits(n), expected = bitsAt(bytes, position, n);
                }
                ASSERT_EQ(va, expected) << where << " at bit " << position;
                ASSERT_EQ(vb, expected) << where << " at bit " << position;
                ASSERT_EQ(a.BitPosition(), b.BitPosition()) << where;
                ASSERT_EQ(a.bytesLoaded(), b.bytesLoaded()) << where;
                ASSERT_EQ(a.pastEnd(), b.pastEnd()) << where;
            }
        }
    }
}

} // namespace
