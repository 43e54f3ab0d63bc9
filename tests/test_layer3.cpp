// Layer III stages: the literal tables, Huffman decoding, scale factors,
// the reservoir and frame entry, antialias, the transforms and synthesis.
#include "compo/mpeg/decoder.h"
#include "compo/mpeg/dispatch.h"
#include "compo/mpeg/huffman.h"
#include "compo/mpeg/imdct.h"
#include "compo/mpeg/layer3.h"
#include "compo/mpeg/stereo.h"
#include "compo/mpeg/synthesis.h"

#include "huffmancodes.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <random>
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

// Packs a string of '0'/'1' characters into bytes, followed by zero bytes.
std::vector<std::uint8_t> packBits(const std::string& bits, std::size_t padding = 16)
{
    std::vector<std::uint8_t> out((bits.size() + 7) / 8 + padding, 0);
    for (std::size_t i = 0; i < bits.size(); ++i)
        if (bits[i] == '1')
            out[i / 8] |= static_cast<std::uint8_t>(0x80 >> (i % 8));
    return out;
}

TEST(HuffmanTables, EveryCodeDecodesToItsValueAndLength)
{
    const auto tables = readStandardCodes();
    int checked = 0;
    for (int number = 1; number < 32; ++number) {
        const HuffDescriptor& d = kHuffDescriptors[number];
        ASSERT_TRUE(tables.count(number)) << number;
        // Tables 17..23 and 25..31 share the codes of 16 and 24.
        const int source = tables.at(number).empty() && number > 16 ? (number < 24 ? 16 : 24) : number;
        for (const Code& c : tables.at(source)) {
            // After the code: x's linbits (when x is 15), x's sign bit (when
            // x is nonzero), then y's. Every sign pattern, with linbits all
            // zero (signs 0..3) or all one (signs 4..7).
            for (int signs = 0; signs < 8; ++signs) {
                const bool ones = signs & 4;
                const auto extended = [&](int value, bool negative, std::string& bits) {
                    if (value == 15)
                        bits += std::string(static_cast<std::size_t>(d.linbits), ones ? '1' : '0');
                    if (value == 15 && ones)
                        value += (1 << d.linbits) - 1;
                    if (value != 0)
                        bits += negative ? '1' : '0';
                    return negative ? -value : value;
                };
                std::string bits = c.bits;
                const int expectX = extended(c.x, signs & 2, bits);
                const int expectY = extended(c.y, signs & 1, bits);
                const auto data = packBits(bits);
                BitReader r;
                r.BitReaderStart(data.data(), static_cast<std::int32_t>(data.size()));
                std::int32_t x = -1, y = -1;
                decodePair(r, d, x, y);
                EXPECT_EQ(x, expectX) << "table " << number << " bits " << bits;
                EXPECT_EQ(y, expectY) << "table " << number << " bits " << bits;
                EXPECT_EQ(r.BitPosition(), static_cast<int>(bits.size())) << "table " << number << " bits " << bits;
            }
            ++checked;
        }
    }
    for (const Code& c : tables.at(32)) {
        const auto data = packBits(c.bits);
        const std::uint16_t entry = kCount1TableA[data[0] >> 2];
        EXPECT_EQ(entry >> 8, static_cast<int>(c.bits.size())) << c.bits;
        EXPECT_EQ(entry & 15, c.x) << c.bits;
        ++checked;
    }
    EXPECT_GT(checked, 4000);
}

TEST(HuffmanTables, StandardCodesArePrefixFree)
{
    for (const auto& [number, codes] : readStandardCodes()) {
        std::vector<std::string> words;
        for (const Code& c : codes)
            words.push_back(c.bits);
        std::sort(words.begin(), words.end());
        for (std::size_t i = 1; i < words.size(); ++i)
            EXPECT_NE(words[i].rfind(words[i - 1], 0), 0u)
                << "table " << number << ": " << words[i - 1] << " is a prefix of " << words[i];
    }
}

// The bit reader peeks 1 to 11 bits: every level of every lookup table,
// subtables included, peeks that many.
TEST(HuffmanTables, EveryLevelPeeksOneToElevenBits)
{
    int levels = 0;
    for (int number = 1; number < 32; ++number) {
        const std::uint32_t* table = kHuffDescriptors[number].table;
        if (!table)
            continue;
        std::vector<std::uint32_t> pending = {0};
        while (!pending.empty()) {
            const std::uint32_t at = pending.back();
            pending.pop_back();
            const int width = static_cast<int>(table[at] & 0xFF);
            ASSERT_GE(width, 1) << "table " << number << " level at " << at;
            ASSERT_LE(width, 11) << "table " << number << " level at " << at;
            ++levels;
            for (int i = 0; i < (1 << width); ++i) {
                const std::uint32_t entry = table[at + 1 + i];
                if ((entry >> 24) == 0)
                    pending.push_back(at + entry);
            }
        }
    }
    EXPECT_GT(levels, 100);
}

TEST(HuffmanTables, DescriptorsFollowTheStandard)
{
    for (int n : {0, 4, 14})
        EXPECT_EQ(kHuffDescriptors[n].kind, HuffKind::Zero) << n;
    const int linbits[32] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                             1, 2, 3, 4, 6, 8, 10, 13, 4, 5, 6, 7, 8, 9, 11, 13};
    for (int n = 0; n < 32; ++n)
        EXPECT_EQ(kHuffDescriptors[n].linbits, linbits[n]) << n;
}

TEST(Count1, TableBNeedsFourBits)
{
    struct Case {
        const char* name;
        std::string bits;
        int bitsRemaining;
        int expectedLines;
        int consumed;
        std::int32_t v;
    };
    const Case cases[] = {
        {"zero quadruple with 4 bits", "1111", 4, 0, 4, 0},
        {"3 bits left decode nothing", "1111", 3, 0, 0, 0},
        {"v with its sign inside the budget", "0111" "1", 5, 2, 5, -1},
        {"v whose sign crosses the end is cleared", "0111" "1", 4, 0, 5, 0},
    };
    for (const Case& c : cases) {
        const auto data = packBits(c.bits);
        BitReader r;
        r.BitReaderStart(data.data(), static_cast<std::int32_t>(data.size()));
        r.BitReaderSetEnd(data.data() + data.size());
        std::int32_t dest[8] = {9, 9, 9, 9, 9, 9, 9, 9};
        EXPECT_EQ(DecodeCount1(r, dest, 4, c.bitsRemaining, true), c.expectedLines) << c.name;
        EXPECT_EQ(r.BitPosition(), c.consumed) << c.name;
        if (c.consumed > 0) {
            EXPECT_EQ(dest[0], c.v) << c.name;
        }
    }
}

TEST(Count1, ExtentRoundsToPairs)
{
    // Table A code "1" is the zero quadruple; "0101" is vwxy = 0001 (y only).
    const auto data = packBits(std::string("1") + "0101" + "0");
    BitReader r;
    r.BitReaderStart(data.data(), static_cast<std::int32_t>(data.size()));
    r.BitReaderSetEnd(data.data() + data.size());
    std::int32_t dest[8] = {};
    EXPECT_EQ(DecodeCount1(r, dest, 8, 6, false), 8);
    EXPECT_EQ(dest[7], 1);
}

TEST(Tables, SynthesisWindowIsSymmetric)
{
    EXPECT_EQ(kSynthesisWindowD[0], 0);
    EXPECT_EQ(kSynthesisWindowD[256], 75038);
    for (int i = 1; i < 512; ++i) {
        if (i % 64 == 0)
            EXPECT_EQ(kSynthesisWindowD[512 - i], kSynthesisWindowD[i]) << i;
        else
            EXPECT_EQ(kSynthesisWindowD[512 - i], -kSynthesisWindowD[i]) << i;
    }
}

TEST(Tables, BandBoundariesEndAt576And192)
{
    for (const auto& row : kBandBoundaries)
        for (const BandBoundaries& b : row) {
            EXPECT_EQ(b.longBands[0], 0);
            EXPECT_EQ(b.longBands[22], 576);
            EXPECT_EQ(b.shortBands[0], 0);
            EXPECT_EQ(b.shortBands[13], 192);
            for (int i = 1; i < 23; ++i)
                EXPECT_GT(b.longBands[i], b.longBands[i - 1]);
            for (int i = 1; i < 14; ++i)
                EXPECT_GT(b.shortBands[i], b.shortBands[i - 1]);
        }
    // The mixed-block long part ends where short band 3 begins.
    for (int row = 0; row < 3; ++row)
        for (const BandBoundaries& b : kBandBoundaries[row])
            EXPECT_EQ(b.longBands[row == 0 ? 8 : 6], 3 * b.shortBands[3]);
}

TEST(Tables, LsfPartitionsCoverEveryBand)
{
    for (const auto& row : kLsfBandCounts) {
        EXPECT_EQ(row[0][0] + row[0][1] + row[0][2] + row[0][3], 21);
        EXPECT_EQ(row[1][0] + row[1][1] + row[1][2] + row[1][3], 12);
        EXPECT_EQ(row[2][0], 6);
        EXPECT_EQ(3 + row[2][1] + row[2][2] + row[2][3], 12);
    }
}

// A decoder set up for the stream of `header`.
std::unique_ptr<MpegDecoder> decoderFor(std::vector<std::uint8_t> header, int lengthHint = 0)
{
    auto decoder = std::make_unique<MpegDecoder>();
    MpegFrameHeader h;
    const int length = ParseFrameHeader(header.data(), 4, h);
    EXPECT_TRUE(decoder->SetupStream(h, lengthHint ? lengthHint : length));
    return decoder;
}

TEST(Layer3Stream, OutputFormats)
{
    struct Case {
        std::vector<std::uint8_t> header;
        OutputFormat format;
    };
    const Case cases[] = {
        {{0xFF, 0xFB, 0x90, 0x64}, {2, 2304, 44100, 16, 417, 0}},
        {{0xFF, 0xF3, 0x80, 0xC4}, {1, 576, 22050, 16, 208, 0}},
        {{0xFF, 0xE3, 0x80, 0x04}, {2, 1152, 11025, 16, 417, 0}},
        {{0xFF, 0xE3, 0x88, 0xC4}, {1, 576, 8000, 16, 576, 0}},
    };
    for (const Case& c : cases) {
        const auto decoder = decoderFor(c.header);
        const OutputFormat f = decoder->GetOutputFormat();
        EXPECT_EQ(f.channels, c.format.channels);
        EXPECT_EQ(f.samplesPerFrame, c.format.samplesPerFrame);
        EXPECT_EQ(f.sampleRate, c.format.sampleRate);
        EXPECT_EQ(f.bitsPerSample, 16);
        EXPECT_EQ(f.frameLengthHint, c.format.frameLengthHint);
    }
}

TEST(Layer3Stream, EightKilohertzUsesItsOwnBands)
{
    const auto decoder = decoderFor({0xFF, 0xE3, 0x88, 0xC4});
    const BandLayout& bands = decoder->layer3().bands;
    EXPECT_EQ(bands.longStart[17], 566);
    EXPECT_EQ(bands.shortStart3[9], 3 * 160);
    EXPECT_EQ(bands.mixedLongBands, 6);
}

// The band layout of 44.1 kHz MPEG-1 and freshly built tables.
class Layer3Requantise : public testing::Test {
protected:
    Layer3Requantise() { tables.build(); }
    const std::unique_ptr<MpegDecoder> decoder = decoderFor({0xFF, 0xFB, 0x90, 0x64});
    const BandLayout& bands = decoder->layer3().bands;
    Layer3Tables tables;
};

// Lines of the count1 region (-1, 0 or 1) skip the power table; with the
// region moved past the granule every line takes the table, and both must
// give the same floats bit for bit.
TEST_F(Layer3Requantise, Count1LinesGiveTheTableProductsBitForBit)
{
    std::mt19937 random(5);
    std::uniform_int_distribution<int> big(-40, 40), unit(-1, 1), scale(0, 15), gain(0, 255);
    for (int bigValues : {0, 1, 37, 100, 200, 288}) {
        for (int round = 0; round < 20; ++round) {
            SCOPED_TRACE(testing::Message() << bigValues << " " << round);
            std::int32_t in[576];
            for (int k = 0; k < 576; ++k)
                in[k] = k < 2 * bigValues ? big(random) : unit(random);
            ScaleFactorSet sf;
            for (std::int32_t& v : sf.longBands)
                v = scale(random);
            GranuleSideInfo gi;
            gi.global_gain = gain(random);
            gi.scalefac_scale = round & 1;
            gi.preflag = (round >> 1) & 1;
            gi.big_values = bigValues;
            const int lines = 576 - 4 * (round % 3);
            float plain[576], fast[576], reorder[576];
            std::int32_t copy[576];
            int plainExtent = lines, fastExtent = lines;
            RequantResult plainResult, fastResult;
            std::copy(in, in + 576, copy);
            RequantiseGranule(tables, bands, copy, fast, fastExtent, sf, gi, fastResult, reorder);
            gi.big_values = 288;
            std::copy(in, in + 576, copy);
            RequantiseGranule(tables, bands, copy, plain, plainExtent, sf, gi, plainResult, reorder);
            int mismatches = 0;
            for (int k = 0; k < 576; ++k)
                mismatches += std::bit_cast<std::uint32_t>(plain[k]) != std::bit_cast<std::uint32_t>(fast[k]);
            EXPECT_EQ(mismatches, 0);
            EXPECT_EQ(fastExtent, plainExtent);
            EXPECT_EQ(fastResult.lastNonzeroBand, plainResult.lastNonzeroBand);
        }
    }
}

// A run is written from the power table while it is checked; one escaped
// value (outside -32..31) sends its whole run through the slow path. Every
// other line must come out as if that value were 0, bit for bit, and the
// escaped line must hold |v|^(4/3) times the factor, not the table entry its
// masked index points at. In long and in short blocks (whose runs are
// interleaved into the reorder buffer).
TEST_F(Layer3Requantise, AnEscapedValueLeavesTheOtherLinesOfItsRunUnchanged)
{
    std::mt19937 random(9);
    std::uniform_int_distribution<int> small(-32, 31), line(0, 399), escape(32, 8206);
    for (int blockType : {0, 2}) {
        for (int round = 0; round < 40; ++round) {
            SCOPED_TRACE(testing::Message() << blockType << " " << round);
            std::int32_t in[576];
            for (std::int32_t& v : in)
                v = small(random);
            const int at = line(random);
            const std::int32_t value = (round & 1 ? -1 : 1) * escape(random);
            GranuleSideInfo gi;
            gi.global_gain = 150;
            gi.block_type = blockType;
            gi.big_values = 288;
            ScaleFactorSet sf;
            const auto run = [&](std::int32_t v, float* out) {
                std::int32_t copy[576];
                std::copy(in, in + 576, copy);
                copy[at] = v;
                float reorder[576];
                int extent = 576;
                RequantResult result;
                RequantiseGranule(tables, bands, copy, out, extent, sf, gi, result, reorder);
            };
            float withEscape[576], withZero[576];
            run(value, withEscape);
            run(0, withZero);
            int mismatches = 0, escapedLines = 0;
            for (int k = 0; k < 576; ++k) {
                if (std::bit_cast<std::uint32_t>(withEscape[k]) == std::bit_cast<std::uint32_t>(withZero[k]))
                    continue;
                if (withZero[k] != 0.0f) {
                    ++mismatches;
                    continue;
                }
                ++escapedLines;
                const double expected = std::copysign(std::pow(std::abs(value), 4.0 / 3.0), value) *
                                        tables.globalGain[gi.global_gain + 6];
                EXPECT_NEAR(withEscape[k] / expected, 1.0, 1e-5);
            }
            EXPECT_EQ(mismatches, 0);
            EXPECT_EQ(escapedLines, 1);
        }
    }
}

TEST(Layer3Stream, UnusableHeadersAreRefused)
{
    struct Case {
        const char* name;
        std::uint8_t header[4];
    };
    const Case cases[] = {
        {"reserved layer", {0xFF, 0xF9, 0x90, 0x64}},
        {"reserved sampling rate", {0xFF, 0xFB, 0x9C, 0x64}},
    };
    for (const Case& c : cases) {
        MpegDecoder decoder;
        MpegFrameHeader h;
        ParseFrameHeader(c.header, 4, h);
        EXPECT_FALSE(decoder.SetupStream(h, 417)) << c.name;
        std::int16_t pcm[kMaxPcmBytesPerFrame / 2];
        EXPECT_EQ(decoder.DecodeFrame(c.header, 4, pcm).frameBytes, 0) << c.name;
    }
}

// One frame: header, side information with main_data_begin, zero main data.
std::vector<std::uint8_t> frameWithReservoirBegin(std::vector<std::uint8_t> header, int length, int begin, bool mpeg1)
{
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(length), 0);
    std::copy(header.begin(), header.end(), frame.begin());
    if (mpeg1) {
        frame[4] = static_cast<std::uint8_t>(begin >> 1);
        frame[5] = static_cast<std::uint8_t>((begin & 1) << 7);
    } else {
        frame[4] = static_cast<std::uint8_t>(begin);
    }
    return frame;
}

TEST(Layer3Frame, FirstFrameReferringBackGivesSilence)
{
    const auto decoder = decoderFor({0xFF, 0xFB, 0x90, 0x64});
    auto frame = frameWithReservoirBegin({0xFF, 0xFB, 0x92, 0x64}, 418, 100, true);
    std::vector<std::int16_t> pcm(kMaxPcmBytesPerFrame / 2, 7);
    const FrameDecodeResult r = decoder->DecodeFrame(frame.data(), 418, pcm.data());
    EXPECT_EQ(r.frameBytes, 418);
    EXPECT_EQ(r.pcmBytes, 4608);
    for (int i = 0; i < 2304; ++i)
        ASSERT_EQ(pcm[static_cast<std::size_t>(i)], 0) << i;
}

TEST(Layer3Frame, LsfSlotFlipsOnASilentFrame)
{
    const auto decoder = decoderFor({0xFF, 0xF3, 0x80, 0xC4});
    auto frame = frameWithReservoirBegin({0xFF, 0xF3, 0x80, 0xC4}, 208, 50, false);
    std::vector<std::int16_t> pcm(kMaxPcmBytesPerFrame / 2);
    EXPECT_EQ(decoder->layer3().lsfSlot, 0);
    EXPECT_EQ(decoder->DecodeFrame(frame.data(), 208, pcm.data()).pcmBytes, 1152);
    EXPECT_EQ(decoder->layer3().lsfSlot, 1);
    EXPECT_EQ(decoder->DecodeFrame(frame.data(), 208, pcm.data()).pcmBytes, 1152);
    EXPECT_EQ(decoder->layer3().lsfSlot, 0);
}

TEST(Layer3Frame, BadFramesAreRejected)
{
    const auto decoder = decoderFor({0xFF, 0xFB, 0x90, 0x64});
    std::vector<std::int16_t> pcm(kMaxPcmBytesPerFrame / 2);
    struct Case {
        const char* name;
        std::vector<std::uint8_t> frame;
        int available;
    };
    std::vector<Case> cases = {
        {"wrong sync", frameWithReservoirBegin({0xFF, 0xEB, 0x90, 0x64}, 417, 0, true), 417},
        {"frame longer than the bytes given", frameWithReservoirBegin({0xFF, 0xFB, 0x90, 0x64}, 417, 0, true), 416},
        {"forbidden bit rate", frameWithReservoirBegin({0xFF, 0xFB, 0xF0, 0x64}, 417, 0, true), 417},
        {"other sampling rate", frameWithReservoirBegin({0xFF, 0xFB, 0x94, 0x64}, 417, 0, true), 417},
        {"three header bytes", {0xFF, 0xFB, 0x90}, 3},
    };
    for (Case& c : cases)
        EXPECT_EQ(decoder->DecodeFrame(c.frame.data(), c.available, pcm.data()).frameBytes, 0) << c.name;
}

TEST(Layer3Frame, MainDataThatDoesNotFitIsRejected)
{
    // Free-format frames of 8000 bytes: the first fills the reservoir past
    // its compaction mark; the second keeps 511 bytes and cannot fit.
    const std::vector<std::uint8_t> header = {0xFF, 0xFB, 0x00, 0x64};
    const auto decoder = decoderFor(header, 8000);
    std::vector<std::int16_t> pcm(kMaxPcmBytesPerFrame / 2);
    auto first = frameWithReservoirBegin(header, 8000, 0, true);
    EXPECT_EQ(decoder->DecodeFrame(first.data(), 8000, pcm.data()).frameBytes, 8000);
    auto second = frameWithReservoirBegin(header, 8000, 511, true);
    EXPECT_EQ(decoder->DecodeFrame(second.data(), 8000, pcm.data()).frameBytes, 0);

    const auto big = decoderFor(header, 9000);
    auto huge = frameWithReservoirBegin(header, 9000, 0, true);
    EXPECT_EQ(big->DecodeFrame(huge.data(), 9000, pcm.data()).frameBytes, 0);
}

// Every magnitude an escape can give (to 15 + 8191) outside the power table
// (-32..31) comes out as the factor times v times powf's cube root, bit for
// bit, in both signs: this compares every tabled cube root.
TEST_F(Layer3Requantise, EveryEscapedMagnitudeTakesItsPowProduct)
{
    GranuleSideInfo gi;
    gi.global_gain = 150;
    gi.big_values = 288;
    const float factor = tables.globalGain[gi.global_gain + 6];  // scale factors 0
    int mismatches = 0;
    for (int v = -8206; v <= 8206; v += 576) {
        std::int32_t in[576];
        for (int k = 0; k < 576; ++k)
            in[k] = v + k >= -32 && v + k <= 31 ? 0 : std::min(v + k, 8206);
        float out[576], reorder[576];
        int extent = 576;
        RequantResult result;
        RequantiseGranule(tables, bands, in, out, extent, ScaleFactorSet{}, gi, result, reorder);
        for (int k = 0; k < 576; ++k) {
            const float root = std::pow(static_cast<float>(std::abs(in[k])), 0.33333334f);
            const float expected = in[k] == 0 ? 0.0f : factor * static_cast<float>(in[k]) * root;
            mismatches += std::bit_cast<std::uint32_t>(out[k]) != std::bit_cast<std::uint32_t>(expected);
        }
    }
    EXPECT_EQ(mismatches, 0);
}

// The last nonzero band of a long granule (intensity stereo starts above
// it): the highest band the extent reaches that holds a big value, an
// escape or a count1 line; every line past the bands reached is zero.
TEST_F(Layer3Requantise, LastNonzeroBandIsTheHighestBandHoldingAValue)
{
    struct Case {
        int extent, bigValues, line, value, lastBand;
    };
    const int* start = bands.longStart;
    const Case cases[] = {{576, 100, 0, 0, -1},           {0, 0, 0, 5, -1},
                          {576, 100, start[6] - 1, -2, 5}, {576, 100, start[6], 1, 6},
                          {576, 288, start[9] + 1, 900, 9}, {576, 10, start[15] + 2, -1, 15},
                          {576, 288, 575, 1, 21},           {start[12] + 1, 288, start[12], 2, 12}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::int32_t in[576] = {};
        in[1] = c.extent > 0 && c.line > 20 ? 3 : 0;  // a value in band 0 below it
        in[c.line] = c.value;
        GranuleSideInfo gi;
        gi.global_gain = 140;
        gi.big_values = c.bigValues;
        float out[576], reorder[576];
        std::fill(out, out + 576, 7.0f);  // an older granule's overlap
        int extent = c.extent;
        RequantResult result;
        RequantiseGranule(tables, bands, in, out, extent, ScaleFactorSet{}, gi, result, reorder);
        EXPECT_EQ(result.lastNonzeroBand, c.lastBand);
        for (int k = 0; k < 576; ++k)
            EXPECT_EQ(out[k] != 0.0f, in[k] != 0 && c.extent > 0) << k;
    }
}

// One line on its own: the table product for -32..31, else the factor
// times v times powf's cube root of |v|.
float modelLine(const Layer3Tables& t, float factor, std::int32_t v)
{
    if (v >= -32 && v <= 31)
        return factor * t.power[v + 32];
    return factor * static_cast<float>(v) * std::pow(static_cast<float>(std::abs(v)), 0.33333334f);
}

// Random granules line by line against modelLine with each line's own band
// (and window) factor, bit for bit, in the 44.1, 22.05 and 8 kHz layouts
// (the last with bands of two lines): values outside -32..31 on the first
// and last lines of bands and of groups of 16, extents on, beside and
// between band boundaries, long, short and mixed blocks.
TEST(Layer3RequantiseLayouts, EveryLineTakesItsOwnBandsFactor)
{
    Layer3Tables t;
    t.build();
    std::mt19937 random(17);
    std::uniform_int_distribution<int> small(-31, 31), unit(-1, 1), escape(32, 8206), percent(0, 99);
    const std::vector<std::uint8_t> headers[] = {
        {0xFF, 0xFB, 0x90, 0x64}, {0xFF, 0xF3, 0x80, 0xC4}, {0xFF, 0xE3, 0x88, 0xC4}};
    for (const auto& header : headers) {
        const auto decoder = decoderFor(header);
        const BandLayout& bands = decoder->layer3().bands;
        for (int round = 0; round < 300; ++round) {
            SCOPED_TRACE(testing::Message() << int(header[2]) << " " << round);
            GranuleSideInfo gi;
            gi.global_gain = percent(random) * 2;
            gi.scalefac_scale = round & 1;
            gi.preflag = (round >> 1) & 1;
            gi.block_type = round % 3 == 0 ? 2 : 0;
            gi.mixed_block_flag = round % 6 == 0;
            gi.big_values = percent(random) * 3;
            for (std::int32_t& g : gi.subblock_gain)
                g = percent(random) % 8;
            ScaleFactorSet sf;
            for (std::int32_t& v : sf.longBands)
                v = percent(random) % 16;
            for (auto& window : sf.shortBands)
                for (std::int32_t& v : window)
                    v = percent(random) % 16;
            const int boundary = bands.longStart[1 + percent(random) % 22];
            const int extent = std::array{576, boundary, boundary - 2, std::min(boundary + 2, 576),
                                          1 + percent(random) * 5}[round % 5];
            // The count1 lines from 2 big_values on hold -1, 0 or 1 only.
            const int count1 = std::min(extent, 2 * gi.big_values);
            std::int32_t in[576] = {};
            for (int k = 0; k < extent; ++k) {
                const int p = percent(random);
                in[k] = k >= count1 ? unit(random)
                        : p < 80    ? small(random)
                        : p < 88    ? std::array{-33, -32, 31, 32}[p & 3]
                                    : (p & 1 ? -1 : 1) * escape(random);
            }
            for (int k = 0; k < count1; ++k)
                if ((k % 16 == 0 || k % 16 == 15 || std::count(bands.longStart, bands.longStart + 23, k) ||
                     std::count(bands.longStart, bands.longStart + 23, k + 1)) && percent(random) < 30)
                    in[k] = (k & 1 ? -1 : 1) * escape(random);
            // Indices v + 32 of 0 and 64: a 32 among -32s shows only in bit 6.
            if (round % 10 == 9 && count1 > 0) {
                std::fill(in, in + count1, -32);
                in[percent(random) * 7 % count1] = 32;
            }

            float expected[576], out[576], reorder[576];
            std::fill(expected, expected + 576, 0.0f);
            const float gain = t.globalGain[gi.global_gain + 6];
            const int longBands = gi.block_type != 2 ? 22 : gi.mixed_block_flag ? bands.mixedLongBands : 0;
            for (int b = 0; b < longBands && bands.longStart[b] < extent; ++b)
                for (int k = bands.longStart[b]; k < bands.longStart[b + 1]; ++k)
                    expected[k] = modelLine(
                        t, gain * t.scaleMultiplier[gi.scalefac_scale][gi.preflag ? kPretab[b] : 0][sf.longBands[b]],
                        in[k]);
            const int firstShort = gi.mixed_block_flag ? 3 : 0;
            for (int b = firstShort, k = bands.shortStart3[b]; gi.block_type == 2 && b < 13 && k < extent; ++b)
                for (int w = 0; w < 3; ++w)
                    for (int j = 0; j < bands.shortWidth[b]; ++j)
                        expected[bands.shortStart3[b] + w + 3 * j] = modelLine(
                            t, gain * t.subblockGain[gi.subblock_gain[w]] *
                                   t.scaleMultiplier[gi.scalefac_scale][0][sf.shortBands[w][b]],
                            in[k++]);
            // Every line not requantised is zero, whatever the slot held
            // (an older granule's overlap), also between the long bands
            // written and the short bands of a mixed block.
            std::fill(out, out + 576, 7.0f);
            int outExtent = extent;
            RequantResult result;
            RequantiseGranule(t, bands, in, out, outExtent, sf, gi, result, reorder);
            int mismatches = 0;
            for (int k = 0; k < 576; ++k)
                mismatches += std::bit_cast<std::uint32_t>(out[k]) != std::bit_cast<std::uint32_t>(expected[k]);
            EXPECT_EQ(mismatches, 0);
        }
    }
}

TEST(ScaleFactors, ScfsiReusesGranuleZero)
{
    MpegDecoder decoder;
    Layer3State& s = decoder.layer3();
    s.versionRow = 1;
    s.scalefactors[0][0] = ScaleFactorSet{};
    s.side[0][0] = GranuleSideInfo{};
    s.side[0][0].scalefac_compress = 15;  // slen 4 and 3
    std::string bits;
    for (int b = 0; b < 21; ++b) {
        const int width = b < 11 ? 4 : 3;
        for (int k = width - 1; k >= 0; --k)
            bits += ((b + 1) >> k) & 1 ? '1' : '0';
    }
    const auto data = packBits(bits);
    BitReader r;
    r.BitReaderStart(data.data(), static_cast<std::int32_t>(data.size()));
    ReadMpeg1ScaleFactors(s, r, 0, 0);
    EXPECT_EQ(r.BitPosition(), 11 * 4 + 10 * 3);

    s.side[1][0] = s.side[0][0];
    s.scfsi[0] = 15;
    s.scalefactors[1][0] = ScaleFactorSet{};
    const auto zeros = packBits(std::string(80, '0'));
    r.BitReaderStart(zeros.data(), static_cast<std::int32_t>(zeros.size()));
    ReadMpeg1ScaleFactors(s, r, 1, 0);
    EXPECT_EQ(r.BitPosition(), 0);
    for (int b = 0; b < 21; ++b)
        EXPECT_EQ(s.scalefactors[1][0].longBands[b], (b + 1) & (b < 11 ? 15 : 7)) << b;

    // scfsi 0b0101: bands 6..10 and 16..20 are reused, the others read.
    s.scfsi[0] = 5;
    r.BitReaderStart(zeros.data(), static_cast<std::int32_t>(zeros.size()));
    ReadMpeg1ScaleFactors(s, r, 1, 0);
    EXPECT_EQ(r.BitPosition(), 6 * 4 + 5 * 3);
    EXPECT_EQ(s.scalefactors[1][0].longBands[0], 0);
    EXPECT_EQ(s.scalefactors[1][0].longBands[6], 7);
    EXPECT_EQ(s.scalefactors[1][0].longBands[11], 0);
    EXPECT_EQ(s.scalefactors[1][0].longBands[16], 17 & 7);
}

TEST(Antialias, ExtentDecidesTheBoundaries)
{
    struct Case {
        int blockType, mixed, extent, boundaries;
    };
    const Case cases[] = {{0, 0, 10, 0}, {0, 0, 11, 1}, {0, 0, 576, 31}, {1, 0, 29, 2},
                          {2, 1, 576, 1}, {2, 0, 576, 0}};
    for (const Case& c : cases) {
        GranuleSideInfo g;
        g.block_type = c.blockType;
        g.mixed_block_flag = c.mixed;
        EXPECT_EQ(AntialiasBoundaries(g, c.extent), c.boundaries) << c.blockType << "/" << c.extent;
    }
}

TEST(Antialias, ButterfliesMixNeighbouringSubbands)
{
    float x[576] = {};
    x[17] = 1.0f;  // last line of subband 0
    AntialiasRef(x, 1);
    const double c0 = -0.6;
    const double root = std::sqrt(1 + c0 * c0);
    EXPECT_NEAR(x[17], 1 / root, 1e-6);
    EXPECT_NEAR(x[18], c0 / root, 1e-6);
    for (int k = 0; k < 576; ++k) {
        if (k != 17 && k != 18) {
            EXPECT_EQ(x[k], 0.0f) << k;
        }
    }
    // No boundary: nothing changes.
    float y[576] = {};
    y[17] = 1.0f;
    AntialiasRef(y, 0);
    EXPECT_EQ(y[18], 0.0f);
}

TEST(Transforms, Dct32MatchesItsDefinition)
{
    float in[32], out[32];
    for (int n = 0; n < 32; ++n)
        in[n] = static_cast<float>(std::sin(n * 0.7) * 1000 + n);
    Dct32(in, out);
    for (int k = 0; k < 32; ++k) {
        double expected = 0;
        for (int n = 0; n < 32; ++n)
            expected += in[n] * std::cos(M_PI * (2 * n + 1) * k / 64);
        EXPECT_NEAR(out[k], expected, 0.05) << k;
    }

    // The four-lane transform gives each lane exactly the single transform.
    float lanesIn[32][4], lanesOut[32][4], single[32];
    for (int n = 0; n < 32; ++n)
        for (int lane = 0; lane < 4; ++lane)
            lanesIn[n][lane] = static_cast<float>(std::cos(n * (0.3 + lane) + lane) * (lane + 1) * 3000);
    Dct32x4(lanesIn, lanesOut);
    for (int lane = 0; lane < 4; ++lane) {
        for (int n = 0; n < 32; ++n)
            in[n] = lanesIn[n][lane];
        Dct32(in, single);
        for (int k = 0; k < 32; ++k)
            EXPECT_EQ(lanesOut[k][lane], single[k]) << "lane " << lane << " k " << k;
    }
}

TEST(Transforms, ImdctsAreDctIv)
{
    float x[18], y[18];
    for (int n = 0; n < 18; ++n)
        x[n] = y[n] = static_cast<float>(std::cos(n * 1.3) * 100);
    Imdct36Ref(y);
    for (int k = 0; k < 18; ++k) {
        double expected = 0;
        for (int n = 0; n < 18; ++n)
            expected += x[n] * std::cos(M_PI * (2 * n + 1) * (2 * k + 1) / 72);
        EXPECT_NEAR(y[k], expected, 1e-3) << k;
    }
    for (int n = 0; n < 18; ++n)
        y[n] = x[n];
    Imdct12x3Ref(y);
    for (int w = 0; w < 3; ++w)
        for (int k = 0; k < 6; ++k) {
            double expected = 0;
            for (int n = 0; n < 6; ++n)
                expected += x[3 * n + w] * std::cos(M_PI * (2 * n + 1) * (2 * k + 1) / 24);
            EXPECT_NEAR(y[6 * w + k], expected, 1e-3) << w << "/" << k;
        }
}

TEST(Transforms, SilentGranuleReturnsThePreviousOverlap)
{
    float current[576] = {}, previous[576] = {}, block[576];
    for (int k = 0; k < 36; ++k)
        previous[k] = static_cast<float>(k + 1);
    const int covered = HybridFilterRef(current, previous, block, 0, 0, 0, 36, 32);
    EXPECT_EQ(covered, 36);
    for (int t = 0; t < 18; ++t) {
        EXPECT_EQ(block[32 * t + 0], previous[t]);
        EXPECT_EQ(block[32 * t + 1], previous[18 + t]);
        EXPECT_EQ(block[32 * t + 2], 0.0f);
    }
    for (int k = 0; k < 36; ++k)
        EXPECT_EQ(current[k], 0.0f);
}

TEST(Transforms, MixedFlagUsesTheNormalWindowInTheLowSubbands)
{
    // A start block with the mixed flag keeps the normal window's second
    // half in subbands 0 and 1 and the start window's above them.
    float current[576], previous[576] = {}, block[576];
    for (float& v : current)
        v = 1.0f;
    HybridFilterRef(current, previous, block, 1 + kMixedBlockBit, 576, 576, 0, 32);
    const auto& windows = blockWindows();
    float plain[576], block2[576];
    for (float& v : plain)
        v = 1.0f;
    HybridFilterRef(plain, previous, block2, 0, 576, 576, 0, 32);
    EXPECT_EQ(current[17], plain[17]);
    EXPECT_EQ(current[35], plain[35]);
    EXPECT_NE(current[36 + 17], plain[36 + 17]);
    EXPECT_EQ(windows[1][35], 0.0f);
}

// Long subbands go through the transform four at a time, the last two or
// three as a partial group whose upper lanes read the next subbands. For
// every count of long subbands and the block types that choose the window
// per subband: each subband gets exactly its own transform and window, the
// lines above stay as they were and the block columns above are silent.
TEST(Transforms, EverySubbandGetsItsOwnTransformAndWindow)
{
    const auto& windows = blockWindows();
    std::mt19937 random(11);
    std::uniform_real_distribution<float> value(-3000.0f, 3000.0f);
    const auto bits = [](float v) { return std::bit_cast<std::uint32_t>(v); };
    for (int blockType : {0, 1, 3, 1 + kMixedBlockBit, 3 + kMixedBlockBit}) {
        for (int longSubbands = 1; longSubbands <= 32; ++longSubbands) {
            SCOPED_TRACE(testing::Message() << blockType << " " << longSubbands);
            float current[576], previous[576], block[576], input[576];
            for (int k = 0; k < 576; ++k) {
                current[k] = input[k] = value(random);
                previous[k] = value(random);
            }
            const int lines = 18 * longSubbands;
            EXPECT_EQ(HybridFilterRef(current, previous, block, blockType, lines, lines, 0, 32), lines);
            int mismatches = 0;
            for (int s = 0; s < longSubbands; ++s) {
                const float* w = windows[(blockType & kMixedBlockBit) && s < 2 ? 0 : blockType & 3];
                float y[18];
                std::copy(input + 18 * s, input + 18 * s + 18, y);
                Imdct36Ref(y);
                const float* in = previous + 18 * s;
                const float* out = current + 18 * s;
                for (int t = 0; t < 9; ++t) {
                    mismatches += bits(block[32 * t + s]) != bits(in[t] + w[t] * y[t + 9]);
                    mismatches += bits(block[32 * (t + 9) + s]) != bits(in[t + 9] + w[t + 9] * y[17 - t]);
                    mismatches += bits(out[t]) != bits(w[t + 18] * y[8 - t]);
                    mismatches += bits(out[t + 9]) != bits(w[t + 27] * y[t]);
                }
            }
            for (int k = lines; k < 576; ++k)
                mismatches += bits(current[k]) != bits(input[k]);
            for (int k = 0; k < 576; ++k)
                mismatches += k % 32 >= longSubbands && bits(block[k]) != 0;
            EXPECT_EQ(mismatches, 0);
        }
    }
}

TEST(Synthesis, SilenceAfterSixteenSteps)
{
    auto s = std::make_unique<SynthesisState>();
    SynthesisInit(*s);
    float block[576];
    for (int i = 0; i < 576; ++i)
        block[i] = static_cast<float>((i * 37 % 101) - 50) * 100.0f;
    std::int16_t out[576];
    SynthesiseGranule(*s, 0, block, out, false);
    float silence[576] = {};
    SynthesiseGranule(*s, 0, silence, out, false);
    // Steps 0..15 of the silent granule still hear the loud one; step 16 and
    // 17 (samples 512 on) are exact zeros.
    bool heard = false;
    for (int i = 0; i < 32 * 15; ++i)
        heard |= out[i] != 0;
    EXPECT_TRUE(heard);
    for (int i = 32 * 16; i < 576; ++i)
        EXPECT_EQ(out[i], 0) << i;
}

// One ring value at sample 1's first even tap, whose weight is D[1] = -2^-16.
std::int16_t sampleOneFor(const SynthesisState& s, float ringValue)
{
    auto ring = std::make_unique<SynthesisRing>();
    float block[32] = {};
    block[17] = ringValue;
    StoreRingBlock(*ring, 0, block);
    std::int16_t out[32];
    WindowToPcmMonoRef(s.window, *ring, 0, out);
    return out[1];
}

TEST(Synthesis, RoundsHalfToEvenAndClips)
{
    auto s = std::make_unique<SynthesisState>();
    SynthesisInit(*s);
    ASSERT_EQ(kSynthesisWindowD[1], -1);
    struct Case {
        double sample;
        std::int16_t pcm;
    };
    const Case cases[] = {{2.5, 2},     {3.5, 4},      {-2.5, -2},     {2.4, 2},
                          {32767.4, 32767}, {40000, 32767}, {-32768.4, -32768}, {-40000, -32768}};
    for (const Case& c : cases)
        EXPECT_EQ(sampleOneFor(*s, static_cast<float>(-c.sample * 65536)), c.pcm) << c.sample;
}

TEST(Synthesis, PolarityTwiceInvertsOnce)
{
    auto s = std::make_unique<SynthesisState>();
    SynthesisInit(*s);
    EXPECT_EQ(sampleOneFor(*s, -100 * 65536.0f), 100);
    SetInvertPolarity(*s, true);
    SetInvertPolarity(*s, true);
    EXPECT_TRUE(s->inverted);
    EXPECT_EQ(sampleOneFor(*s, -100 * 65536.0f), -100);
    SetInvertPolarity(*s, false);
    EXPECT_EQ(sampleOneFor(*s, -100 * 65536.0f), 100);
}

TEST(Synthesis, StreamSetUpClearsTheRings)
{
    const auto decoder = decoderFor({0xFF, 0xFB, 0x90, 0x64});
    SynthesisState& s = decoder->synthesis();
    s.ring[0].values[5] = 1.0f;
    s.offset[0] = 64;
    MpegFrameHeader h;
    const std::uint8_t header[4] = {0xFF, 0xFB, 0x90, 0x64};
    ParseFrameHeader(header, 4, h);
    ASSERT_TRUE(decoder->SetupStream(h, 417));
    EXPECT_EQ(s.ring[0].values[5], 0.0f);
    EXPECT_EQ(s.offset[0], 0);
}

TEST(Dispatch, HoldsTheReferenceVariants)
{
    SelectReferenceVariants();
    const DecoderDispatch& d = decoderDispatch();
    EXPECT_EQ(d.Antialias, &AntialiasRef);
    EXPECT_EQ(d.WindowToPcmMono, &WindowToPcmMonoRef);
    EXPECT_EQ(d.WindowToPcmStereo, &WindowToPcmStereoRef);
    EXPECT_EQ(d.HybridFilter, &HybridFilterRef);
    EXPECT_EQ(d.Imdct36, &Imdct36Ref);
    EXPECT_EQ(d.Imdct12x3, &Imdct12x3Ref);
}

} // namespace
