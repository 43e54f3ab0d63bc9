// Layer I and II: table selection, set-up, joint stereo and the subband
// cut-off.
#include "compo/mpeg/decoder.h"
#include "compo/mpeg/layer12.h"

#include "decodetestsupport.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

using namespace morvik::mpeg;

namespace {

TEST(Layer2Tables, SelectionFollowsTheBitRatePerChannel)
{
    struct Case {
        const char* name;
        int mode, sampleIndex, bitRateIndex, table;  // table: 0..3 = B.2a..d, -1 none
    };
    const Case cases[] = {
        {"48 kHz 64 kbit/s stereo", 0, 1, 4, 2},
        {"44.1 kHz 128 kbit/s joint", 1, 0, 8, 0},
        {"44.1 kHz 256 kbit/s stereo", 0, 0, 12, 1},
        {"48 kHz 256 kbit/s stereo", 0, 1, 12, 0},
        {"32 kHz 64 kbit/s dual", 2, 2, 4, 3},
        {"32 kHz 32 kbit/s mono", 3, 2, 1, 3},
        {"44.1 kHz 48 kbit/s mono", 3, 0, 2, 2},
        {"44.1 kHz 80 kbit/s mono", 3, 0, 5, 0},
        {"44.1 kHz 96 kbit/s mono", 3, 0, 6, 1},
        {"32 kHz 96 kbit/s mono", 3, 2, 7, 1},
        {"free format 48 kHz", 0, 1, 0, 0},
        {"free format 44.1 kHz", 3, 0, 0, 1},
        {"stereo at 32 kbit/s", 0, 0, 1, -1},
        {"stereo at 48 kbit/s", 1, 1, 2, -1},
        {"stereo at 56 kbit/s", 2, 2, 3, -1},
        {"stereo at 80 kbit/s", 0, 0, 5, -1},
        {"mono at 224 kbit/s", 3, 0, 11, -1},
        {"mono at 384 kbit/s", 3, 1, 14, -1},
        {"reserved sampling rate", 0, 3, 10, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(layer2TableIndex(c.mode, c.sampleIndex, c.bitRateIndex), c.table) << c.name;
    EXPECT_EQ(kLayer2AllocTables[0].subbands, 27);
    EXPECT_EQ(kLayer2AllocTables[1].subbands, 30);
    EXPECT_EQ(kLayer2AllocTables[2].subbands, 8);
    EXPECT_EQ(kLayer2AllocTables[3].subbands, 12);
    EXPECT_EQ(kLayer2AllocTables[4].subbands, 30);
}

TEST(Layer12Stream, SetUpRefusesStreamsWithoutATable)
{
    struct Case {
        const char* name;
        std::vector<std::uint8_t> header;
        bool accepted;
        OutputFormat format;
    };
    const Case cases[] = {
        {"Layer II 48 kHz 64 kbit/s stereo", {0xFF, 0xFD, 0x44, 0x04}, true, {2, 2304, 48000, 16, 0, 0}},
        {"Layer II stereo at 32 kbit/s", {0xFF, 0xFD, 0x14, 0x04}, false, {}},
        {"Layer II mono at 384 kbit/s", {0xFF, 0xFD, 0xE4, 0xC4}, false, {}},
        {"Layer II at the reserved rate", {0xFF, 0xFD, 0x9C, 0x04}, false, {}},
        {"Layer II LSF 24 kHz", {0xFF, 0xF5, 0x84, 0x04}, true, {2, 2304, 24000, 16, 0, 0}},
        {"Layer I 32 kHz mono", {0xFF, 0xFF, 0x18, 0xC4}, true, {1, 384, 32000, 16, 0, 0}},
        {"Layer II MPEG 2.5", {0xFF, 0xE5, 0x84, 0x04}, false, {}},
    };
    for (const Case& c : cases) {
        MpegFrameHeader h;
        const std::int32_t length = ParseFrameHeader(c.header.data(), 4, h);
        MpegDecoder decoder;
        EXPECT_EQ(decoder.SetupStream(h, length), c.accepted) << c.name;
        if (c.accepted) {
            EXPECT_EQ(decoder.GetOutputFormat().channels, c.format.channels) << c.name;
            EXPECT_EQ(decoder.GetOutputFormat().samplesPerFrame, c.format.samplesPerFrame) << c.name;
            EXPECT_EQ(decoder.GetOutputFormat().sampleRate, c.format.sampleRate) << c.name;
        }
    }
}

// Appends the low `width` bits of value to a string of '0'/'1'.
void put(std::string& bits, std::uint32_t value, int width)
{
    for (int k = width - 1; k >= 0; --k)
        bits += (value >> k) & 1 ? '1' : '0';
}

std::vector<std::uint8_t> pack(const std::string& bits, std::size_t size)
{
    std::vector<std::uint8_t> out(size, 0);
    for (std::size_t i = 0; i < bits.size() && i / 8 < size; ++i)
        if (bits[i] == '1')
            out[i / 8] |= static_cast<std::uint8_t>(0x80 >> (i % 8));
    return out;
}

TEST(Layer2Frame, JointStereoSharesSamplesWithSeparateScaleFactors)
{
    // MPEG-1 Layer II, 48 kHz, 192 kbit/s (table B.2a), joint stereo with
    // mode extension 0: subbands from 4 on are shared.
    const std::vector<std::uint8_t> header = {0xFF, 0xFD, 0xA4, 0x44};
    MpegFrameHeader h;
    const std::int32_t length = ParseFrameHeader(header.data(), 4, h);
    ASSERT_EQ(length, 576);
    std::string bits;
    for (std::uint8_t b : header)
        put(bits, b, 8);
    const Layer2AllocTable& table = kLayer2AllocTables[0];
    for (int sb = 0; sb < 4; ++sb)
        put(bits, 0, 2 * table.allocBits[sb]);  // both channels unallocated
    put(bits, 1, table.allocBits[4]);  // subband 4: 3 steps, one shared field
    for (int sb = 5; sb < table.subbands; ++sb)
        put(bits, 0, table.allocBits[sb]);
    put(bits, 2, 2);  // selection: one scale factor for the left...
    put(bits, 2, 2);  // ...and for the right
    put(bits, 0, 6);  // left: scale factor index 0
    put(bits, 3, 6);  // right: index 3, half the left's
    for (int granule = 0; granule < 12; ++granule)
        put(bits, 2 + 0 * 3 + 1 * 9, 5);  // samples 2, 0, 1
    ASSERT_EQ(table.classOf[4][1], 1);

    MpegDecoder decoder;
    ASSERT_TRUE(decoder.SetupStream(h, length));
    const auto frame = pack(bits, static_cast<std::size_t>(length));
    std::vector<std::int16_t> pcm(kMaxPcmBytesPerFrame / 2);
    const FrameDecodeResult r = decoder.DecodeFrame(frame.data(), length, pcm.data());
    ASSERT_EQ(r.frameBytes, 576);
    ASSERT_EQ(r.pcmBytes, 4608);
    const Layer12State& s = decoder.layer12();
    const float unit = 2.0f / 3.0f * 65536.0f;  // class factor x scale factor 0
    const float expected[3] = {unit, -unit, 0.0f};
    for (int t = 0; t < 36; ++t) {
        EXPECT_FLOAT_EQ(s.samples[t][2 * 4], expected[t % 3]) << t;
        EXPECT_FLOAT_EQ(s.samples[t][2 * 4 + 1], expected[t % 3] * 0.5f) << t;
        EXPECT_EQ(s.samples[t][2 * 3], 0.0f) << t;
        EXPECT_EQ(s.samples[t][2 * 5 + 1], 0.0f) << t;
    }
}

// Reads a frame one bit at a time, zeros past its end.
struct SlowBits {
    const std::vector<std::uint8_t>& data;
    std::size_t position = 0;
    std::uint32_t get(int n)
    {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++position) {
            const std::size_t byte = position / 8;
            v = v << 1 | (byte < data.size() ? (data[byte] >> (7 - position % 8)) & 1 : 0);
        }
        return v;
    }
};

// The subband samples of a Layer I or II frame without padding or CRC, in
// the decoder's layout, decoded in double precision field by field in the
// order the frame holds them: the dequantised sample (raw - centre) x 2 /
// steps x 2^(1 - scf / 3) x 32768.
std::vector<double> modelSamples(const std::vector<std::uint8_t>& frame, int subbandLimit)
{
    SlowBits bits{frame};
    bits.get(12);
    const bool lsf = bits.get(1) == 0;
    const int layer = 4 - static_cast<int>(bits.get(2));
    bits.get(1);
    const int bitRateIndex = static_cast<int>(bits.get(4));
    const int sampleIndex = static_cast<int>(bits.get(2));
    bits.get(2);
    const int mode = static_cast<int>(bits.get(2));
    const int modeExtension = static_cast<int>(bits.get(2));
    bits.get(4);
    const int nch = mode == 3 ? 1 : 2;
    const Layer2AllocTable* table =
        layer == 1 ? nullptr : &kLayer2AllocTables[lsf ? 4 : layer2TableIndex(mode, sampleIndex, bitRateIndex)];
    const int subbands = table ? table->subbands : 32;
    const int bound = mode == 1 ? std::min(4 * (modeExtension + 1), subbands) : subbands;
    // Steps of the Layer II classes 1..17, and of b-bit Layer I samples.
    const int classSteps[18] = {0, 3, 5, 7, 9, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095, 8191, 16383, 32767, 65535};
    int steps[2][32] = {}, scf[2][32][3] = {};
    for (int sb = 0; sb < subbands; ++sb)
        for (int ch = 0; ch < nch; ++ch) {
            if (sb >= bound && ch == 1) {
                steps[1][sb] = steps[0][sb];
            } else if (table) {
                steps[ch][sb] = classSteps[table->classOf[sb][bits.get(table->allocBits[sb])]];
            } else {
                const int a = static_cast<int>(bits.get(4));
                steps[ch][sb] = a == 0 || a == 15 ? 0 : (1 << (a + 1)) - 1;
            }
        }
    int selection[2][32] = {};
    for (int sb = 0; sb < subbands; ++sb)
        for (int ch = 0; ch < nch; ++ch)
            if (table && steps[ch][sb])
                selection[ch][sb] = static_cast<int>(bits.get(2));
    const int repeat[4][3] = {{0, 1, 2}, {0, 0, 2}, {0, 0, 0}, {0, 1, 1}};  // a read, or the part repeated
    for (int sb = 0; sb < subbands; ++sb)
        for (int ch = 0; ch < nch; ++ch)
            if (steps[ch][sb]) {
                const int* r = repeat[table ? selection[ch][sb] : 2];
                for (int part = 0; part < 3; ++part)
                    scf[ch][sb][part] = r[part] == part ? static_cast<int>(bits.get(6)) : scf[ch][sb][r[part]];
            }
    std::vector<double> out(36 * 64, 0.0);
    for (int block = 0; block < 12; ++block)
        for (int sb = 0; sb < subbands; ++sb) {
            int raw[3] = {};
            for (int ch = 0; ch < nch; ++ch) {
                const int n = steps[ch][sb];
                if (!n)
                    continue;
                if (sb < bound || ch == 0) {
                    const int width = static_cast<int>(std::log2(n + 1.0));
                    if (!table) {
                        raw[0] = static_cast<int>(bits.get(width));
                    } else if (n == 3 || n == 5 || n == 9) {
                        std::uint32_t code = bits.get(n == 3 ? 5 : n == 5 ? 7 : 10);
                        for (int& r : raw) {
                            r = static_cast<int>(code % n);
                            code /= n;
                        }
                    } else {
                        for (int& r : raw)
                            r = static_cast<int>(bits.get(width));
                    }
                }
                if (sb >= subbandLimit)
                    continue;
                const double factor = 2.0 / n * std::pow(2.0, 1.0 - scf[ch][sb][table ? block / 4 : 0] / 3.0) * 32768;
                for (int i = 0; i < (table ? 3 : 1); ++i)
                    out[(table ? 3 * block + i : block) * 64 + (nch == 2 ? 2 * sb + ch : sb)] =
                        (raw[i] - (n - 1) / 2.0) * factor;
            }
        }
    return out;
}

TEST(Layer12Frame, RandomFramesMatchAFieldByFieldModel)
{
    // Frames of random bytes behind a header: every allocation, grouped
    // codes past steps^3 - 1, ungrouped codes of all ones, 16-bit codes,
    // fields read past the frame's end (zeros), joint stereo bounds and
    // subband limits below and above them. Several frames go through one
    // decoder so that no slot keeps a value from the frame before.
    struct Case {
        const char* name;
        std::vector<std::uint8_t> header;
        std::int32_t cutoffHz;
    };
    const Case cases[] = {
        {"Layer II 48 kHz 384 kbit/s joint, bound 4", {0xFF, 0xFD, 0xE4, 0x44}, 24000},
        {"Layer II joint, bound 8, limit 12", {0xFF, 0xFD, 0xE4, 0x54}, 9000},
        {"Layer II joint, bound 16, limit 6", {0xFF, 0xFD, 0xE4, 0x74}, 4500},
        {"Layer II 44.1 kHz 384 kbit/s stereo", {0xFF, 0xFD, 0xE0, 0x04}, 24000},
        {"Layer II 48 kHz 192 kbit/s mono, limit 20", {0xFF, 0xFD, 0xA4, 0xC4}, 15000},
        {"Layer II 32 kHz 64 kbit/s dual channel", {0xFF, 0xFD, 0x48, 0x84}, 24000},
        {"Layer II 48 kHz 64 kbit/s joint, bound 4", {0xFF, 0xFD, 0x44, 0x44}, 24000},
        {"Layer II LSF 24 kHz 160 kbit/s joint, bound 12", {0xFF, 0xF5, 0xE4, 0x64}, 24000},
        {"Layer I 44.1 kHz 448 kbit/s joint, bound 12, limit 20", {0xFF, 0xFF, 0xE0, 0x64}, 13800},
        {"Layer I 32 kHz 32 kbit/s mono", {0xFF, 0xFF, 0x18, 0xC4}, 24000},
    };
    std::mt19937 random(12);
    for (const Case& c : cases) {
        MpegFrameHeader h;
        const std::int32_t length = ParseFrameHeader(c.header.data(), 4, h);
        ASSERT_GT(length, 0) << c.name;
        MpegDecoder decoder;
        ASSERT_TRUE(decoder.SetupStream(h, length, 0, 0, OutputBoth, c.cutoffHz)) << c.name;
        const int limit = decoder.layer12().subbandLimit;
        std::vector<std::int16_t> pcm(kMaxPcmBytesPerFrame / 2);
        for (int n = 0; n < 6; ++n) {
            std::vector<std::uint8_t> frame(c.header);
            // Half the frames sparser, for small allocations.
            for (std::int32_t i = 4; i < length; ++i)
                frame.push_back(static_cast<std::uint8_t>(n % 2 ? random() & random() : random()));
            ASSERT_EQ(decoder.DecodeFrame(frame.data(), length, pcm.data()).frameBytes, length) << c.name;
            const std::vector<double> expected = modelSamples(frame, limit);
            const Layer12State& s = decoder.layer12();
            for (int t = 0; t < 36; ++t)
                for (int k = 0; k < 64; ++k) {
                    const double e = expected[t * 64 + k];
                    ASSERT_NEAR(s.samples[t][k], e, 1e-6 * std::fabs(e)) << c.name << ", frame " << n << ", step " << t
                                                                         << ", slot " << k;
                }
        }
    }
}

TEST(Layer1Frame, CutOffBelowTheTopSubbandKeepsBitSynchronisation)
{
    // l1-fl6 (44.1 kHz, signal up to the top subband) decoded with all 32
    // subbands and with 31 (cut-off 21.4 kHz): after every frame the
    // subband samples below the cut agree exactly, and the top one is zero.
    const std::string bytes = testsupport::readFile(testsupport::sharedDir() + "/conformance/l1-fl6.bit");
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    MpegFrameHeader h;
    const std::int32_t length = ParseFrameHeader(data, 4, h);
    MpegDecoder all, cut;
    ASSERT_TRUE(all.SetupStream(h, length, 0, 0, OutputBoth, 24000));
    ASSERT_TRUE(cut.SetupStream(h, length, 0, 0, OutputBoth, 21400));
    EXPECT_EQ(all.layer12().subbandLimit, 32);
    EXPECT_EQ(cut.layer12().subbandLimit, 31);
    std::vector<std::int16_t> pcm(kMaxPcmBytesPerFrame / 2);
    std::int32_t position = 0;
    int frames = 0;
    bool topSubbandHeard = false;
    while (position + 4 <= static_cast<std::int32_t>(bytes.size())) {
        const std::int32_t left = static_cast<std::int32_t>(bytes.size()) - position;
        const auto r = all.DecodeFrame(data + position, left, pcm.data());
        ASSERT_EQ(cut.DecodeFrame(data + position, left, pcm.data()).frameBytes, r.frameBytes);
        if (r.frameBytes <= 0)
            break;
        for (int t = 0; t < 12; ++t)
            for (int k = 0; k < 64; ++k) {
                if (k < 62) {
                    ASSERT_EQ(cut.layer12().samples[t][k], all.layer12().samples[t][k]) << frames << "/" << t;
                } else {
                    ASSERT_EQ(cut.layer12().samples[t][k], 0.0f);
                    topSubbandHeard |= all.layer12().samples[t][k] != 0.0f;
                }
            }
        position += r.frameBytes;
        ++frames;
    }
    EXPECT_EQ(frames, 49);
    EXPECT_TRUE(topSubbandHeard);
}

TEST(Layer2Output, LeftRightAndMonoMixFollowTheStereoDecode)
{
    const std::string bytes = testsupport::readFile(testsupport::sharedDir() + "/conformance/l2-fl16.bit");
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    auto decodeWith = [&](std::uint8_t flags) {
        MpegFrameHeader h;
        const std::int32_t length = ParseFrameHeader(data, 4, h);
        MpegDecoder decoder;
        EXPECT_TRUE(decoder.SetupStream(h, length, 0, 0, flags));
        EXPECT_EQ(decoder.GetOutputFormat().channels, flags == OutputBoth ? 2 : 1);
        std::vector<std::int16_t> pcm, frame(kMaxPcmBytesPerFrame / 2);
        std::int32_t position = 0;
        while (position + 4 <= static_cast<std::int32_t>(bytes.size())) {
            const auto r = decoder.DecodeFrame(data + position, static_cast<std::int32_t>(bytes.size()) - position,
                                               frame.data());
            if (r.frameBytes <= 0)
                break;
            pcm.insert(pcm.end(), frame.begin(), frame.begin() + r.pcmBytes / 2);
            position += r.frameBytes;
        }
        return pcm;
    };
    const auto both = decodeWith(OutputBoth);
    ASSERT_EQ(both.size(), std::size_t{63} * 1152 * 2);
    decodetest::expectChannelOutputsAgree(both, decodeWith(OutputLeftOnly), decodeWith(OutputRightOnly),
                                          decodeWith(OutputMonoMix));
}

} // namespace
