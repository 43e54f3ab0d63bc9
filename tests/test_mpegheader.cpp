// Frame headers, frame lengths, sync search, free-format discovery, the
// stream consistency test and the bit reader.
#include "compo/mpeg/bitreader.h"
#include "compo/mpeg/mpegheader.h"

#include <gtest/gtest.h>

#include <vector>

using namespace morvik::mpeg;

namespace {

std::int32_t parse(std::vector<std::uint8_t> b, MpegFrameHeader& h)
{
    b.resize(std::max<std::size_t>(b.size(), 4));
    return ParseFrameHeader(b.data(), static_cast<std::int32_t>(b.size()), h);
}

struct LengthCase {
    const char* name;
    std::vector<std::uint8_t> header;
    std::int32_t length;  // without padding
    std::int32_t bitRate;
};

TEST(MpegHeader, FrameLengthsAndBitRates)
{
    const LengthCase cases[] = {
        {"MPEG-1 L3 128k 44.1k", {0xFF, 0xFB, 0x90, 0x64}, 417, 128000},
        {"MPEG-1 L3 128k 44.1k padded", {0xFF, 0xFB, 0x92, 0x64}, 417, 128000},
        {"MPEG-2 L3 64k 22.05k", {0xFF, 0xF3, 0x80, 0xC4}, 208, 64000},
        {"MPEG-2.5 L3 64k 11.025k", {0xFF, 0xE3, 0x80, 0xC4}, 417, 64000},
        {"MPEG-1 L1 32k 32k", {0xFF, 0xFF, 0x18, 0xC4}, 48, 32000},
        {"MPEG-1 L2 384k 48k", {0xFF, 0xFD, 0xE4, 0x04}, 1152, 384000},
        {"MPEG-1 L3 320k 32k", {0xFF, 0xFB, 0xE8, 0x04}, 1440, 320000},
        {"MPEG-2 L3 8k 16k", {0xFF, 0xF3, 0x18, 0xC4}, 36, 8000},
    };
    for (const LengthCase& c : cases) {
        MpegFrameHeader h;
        std::int32_t rate = -1;
        std::vector<std::uint8_t> b = c.header;
        EXPECT_EQ(ParseHeaderAndBitRate(b.data(), 4, h, rate), c.length) << c.name;
        EXPECT_EQ(rate, c.bitRate) << c.name;
    }
}

TEST(MpegHeader, PaddedLayerOneFrameAddsFourBytes)
{
    MpegFrameHeader h;
    EXPECT_EQ(parse({0xFF, 0xFF, 0x1A, 0xC4}, h), 48);
    EXPECT_EQ(h.PaddingBit, 1);
    EXPECT_EQ(layerNumber(h), 1);
}

TEST(MpegHeader, FieldsAreDecoded)
{
    MpegFrameHeader h;
    ASSERT_GT(parse({0xFF, 0xFA, 0x93, 0x6F}, h), 0);
    EXPECT_EQ(h.SyncKind, 1);
    EXPECT_EQ(h.VersionId, 1);
    EXPECT_EQ(h.LayerCode, 1);
    EXPECT_EQ(h.ProtectionBit, 0);
    EXPECT_EQ(h.BitRateIndex, 9);
    EXPECT_EQ(h.SampleRateIndex, 0);
    EXPECT_EQ(h.PaddingBit, 1);
    EXPECT_EQ(h.PrivateBit, 1);
    EXPECT_EQ(h.Mode, 1);
    EXPECT_EQ(h.ModeExtension, 2);
    EXPECT_EQ(h.Copyright, 1);
    EXPECT_EQ(h.Original, 1);
    EXPECT_EQ(h.Emphasis, 3);
}

TEST(MpegHeader, UnusableHeadersAreRejected)
{
    MpegFrameHeader h;
    EXPECT_EQ(parse({0xFF, 0xFB, 0xF0, 0x64}, h), 0) << "bit-rate index 15";
    EXPECT_LT(parse({0xFF, 0xFB, 0x9C, 0x64}, h), 0) << "sampling index 3";
    EXPECT_EQ(parse({0xFF, 0xF9, 0x90, 0x64}, h), 0) << "layer 0";
    EXPECT_EQ(parse({0xFE, 0xFB, 0x90, 0x64}, h), 0) << "no sync";
    EXPECT_EQ(h.SyncKind, 0);
    EXPECT_EQ(parse({0xFF, 0xDB, 0x90, 0x64}, h), 0) << "sync nibble 0xD";
}

TEST(MpegHeader, SyncNibbleEWithVersionBitUsesMpeg1Formulas)
{
    MpegFrameHeader h;
    EXPECT_EQ(parse({0xFF, 0xEB, 0x90, 0x64}, h), 417);
    EXPECT_EQ(h.SyncKind, 2);
    EXPECT_EQ(h.VersionId, 1);
}

TEST(MpegHeader, HeadersMatchIgnoresPerFrameFields)
{
    const std::uint8_t reference[4] = {0xFF, 0xFB, 0x90, 0x64};
    struct Change {
        const char* name;
        int byte;
        std::uint8_t bits;
        bool matches;
    };
    const Change changes[] = {
        {"protection", 1, 0x01, true},   {"bit rate", 2, 0xF0, true},     {"padding", 2, 0x02, true},
        {"private", 2, 0x01, true},      {"mode", 3, 0xC0, true},         {"mode extension", 3, 0x30, true},
        {"copyright", 3, 0x08, true},    {"original", 3, 0x04, true},     {"emphasis", 3, 0x03, true},
        {"sampling rate", 2, 0x04, false}, {"layer", 1, 0x02, false},     {"version", 1, 0x08, false},
        {"sync", 1, 0x10, false},
    };
    for (const Change& c : changes) {
        std::uint8_t candidate[4] = {reference[0], reference[1], reference[2], reference[3]};
        candidate[c.byte] ^= c.bits;
        EXPECT_EQ(HeadersMatch(headerWord(reference), headerWord(candidate)), c.matches) << c.name;
    }
}

TEST(MpegHeader, FindFrameSyncSkipsLeadingBytes)
{
    std::vector<std::uint8_t> b = {0x00, 0xFF, 0x12, 0xFF, 0xFB, 0x90, 0x64, 0, 0, 0};
    MpegFrameHeader h;
    std::int32_t rate = 0, skipped = -1;
    EXPECT_EQ(FindFrameSync(b.data(), static_cast<std::int32_t>(b.size()), h, rate, skipped), 417);
    EXPECT_EQ(skipped, 3);
    EXPECT_EQ(rate, 128000);

    std::vector<std::uint8_t> none = {0x00, 0xFF, 0x12, 0x34, 0xFF};
    skipped = -1;
    EXPECT_EQ(FindFrameSync(none.data(), static_cast<std::int32_t>(none.size()), h, rate, skipped), 0);
    EXPECT_EQ(skipped, -1);

    // A sync pattern in the last bytes has no room for a header.
    std::vector<std::uint8_t> tail = {0x00, 0x00, 0xFF, 0xFB};
    EXPECT_EQ(FindFrameSync(tail.data(), 4, h, rate, skipped), 0);
}

// Free-format frames of `size` bytes (Layer III, MPEG-1, 44.1 kHz).
std::vector<std::uint8_t> freeFormatStream(int size, int frames, std::uint8_t filler = 0x55)
{
    std::vector<std::uint8_t> b;
    for (int i = 0; i < frames; ++i) {
        const std::uint8_t header[4] = {0xFF, 0xFB, 0x00, 0x64};
        b.insert(b.end(), header, header + 4);
        b.insert(b.end(), static_cast<std::size_t>(size - 4), filler);
    }
    return b;
}

TEST(MpegHeader, FreeFormatLengthIsDiscovered)
{
    std::vector<std::uint8_t> b = freeFormatStream(300, 20);
    MpegFrameHeader h;
    std::int32_t rate = 0;
    EXPECT_EQ(ParseHeaderAndBitRate(b.data(), static_cast<std::int32_t>(b.size()), h, rate), 300);
    EXPECT_EQ(rate, 300 * 882 * 1000 / 2880);

    // Frames below the 24-byte floor are taken at the first multiple above it.
    std::vector<std::uint8_t> small = freeFormatStream(20, 200);
    EXPECT_EQ(FindFreeFormatLength(small.data(), static_cast<std::int32_t>(small.size())), 40);

    // Without a second header there is no length.
    std::vector<std::uint8_t> single = freeFormatStream(300, 1);
    EXPECT_EQ(FindFreeFormatLength(single.data(), static_cast<std::int32_t>(single.size())), 0);

    // Without a byte count a free-format header has no length.
    EXPECT_EQ(ParseFrameHeader(b.data(), 0, h), 0);
}

TEST(MpegHeader, FreeFormatSkipsACandidateThatBreaksLater)
{
    // The fourth header is broken: 300 fails on it, and the next candidate,
    // 600, matches every second header to the end.
    std::vector<std::uint8_t> b = freeFormatStream(300, 20);
    b[3 * 300 + 1] = 0x00;
    EXPECT_EQ(FindFreeFormatLength(b.data(), static_cast<std::int32_t>(b.size())), 600);
    // Breaking every header from the second on leaves no candidate.
    for (int i = 1; i < 20; ++i)
        b[static_cast<std::size_t>(i) * 300] = 0x00;
    EXPECT_EQ(FindFreeFormatLength(b.data(), static_cast<std::int32_t>(b.size())), 0);
}

TEST(BitReader, PositionsAndValues)
{
    const std::uint8_t data[12] = {0xA5, 0x0F, 0xF0, 0x12, 0x34, 0x56, 0x78, 0x9A, 0, 0, 0, 0};
    BitReader r;
    r.BitReaderStart(data, sizeof data);
    EXPECT_EQ(r.GetBits(0), 0u);
    EXPECT_EQ(r.BitPosition(), 0);
    EXPECT_EQ(r.GetBits(12), 0xA50u);
    EXPECT_EQ(r.BitPosition(), 12);
    EXPECT_EQ(r.bytesLoaded(), 4);
    EXPECT_EQ(r.PeekBits(4), 0xFu);
    EXPECT_EQ(r.BitPosition(), 12);
    EXPECT_EQ(r.GetBits(1), 1u);
    EXPECT_EQ(r.ReadBitsRefill(11), 0x7F0u);
    EXPECT_EQ(r.BitPosition(), 24);
    EXPECT_EQ(r.GetBits(25), (0x123456u << 1) | 0);
    EXPECT_EQ(r.BitPosition(), 49);
    r.skipHeld(3);
    EXPECT_EQ(r.BitPosition(), 52);
    EXPECT_EQ(r.GetBits(4), 0x8u);
}

TEST(BitReader, PastEndIsReportedAfterTheFact)
{
    const std::uint8_t data[8] = {0xFF, 0xFF, 0, 0, 0, 0, 0, 0};
    BitReader r;
    r.BitReaderStart(data, sizeof data);
    r.BitReaderSetEnd(data + 2);
    r.GetBits(16);
    EXPECT_FALSE(r.bytesLoaded() > 5);
    r.GetBits(16);
    r.GetBits(16);
    EXPECT_TRUE(r.pastEnd());
}

} // namespace
