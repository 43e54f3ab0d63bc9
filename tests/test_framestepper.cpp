// Opening and stepping through streams as the player does, and the
// `morvik-cli decode` command built on it.
#include "compo/framestepper.h"
#include "compo/mpeg/mpegheader.h"

#include "decodetestsupport.h"
#include "testsupport.h"

#include <gtest/gtest.h>

using namespace decodetest;
using namespace testsupport;
using namespace morvik::mpeg;

namespace {

// Byte offsets of the frames of a CBR/VBR stream without tags.
std::vector<std::size_t> frameOffsets(const std::string& bytes)
{
    std::vector<std::size_t> offsets;
    std::size_t p = 0;
    while (p + 4 <= bytes.size()) {
        MpegFrameHeader h;
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data() + p);
        const std::int32_t length = ParseFrameHeader(data, 4, h);
        if (length <= 0)
            break;
        offsets.push_back(p);
        p += static_cast<std::size_t>(length + h.PaddingBit);
    }
    return offsets;
}

TEST(FrameStepper, InfoFrameIsPlayedLikeAnyOther)
{
    const std::string mp3 = toneMp3(0.3);
    ASSERT_NE(mp3.find("Info"), std::string::npos);
    auto decoder = std::make_unique<MpegDecoder>();
    MemoryByteSource source(reinterpret_cast<const std::uint8_t*>(mp3.data()), static_cast<std::int64_t>(mp3.size()));
    FrameStepper stepper(source, *decoder);
    ASSERT_TRUE(stepper.open());
    EXPECT_FALSE(stepper.hadVbrHeader());
    EXPECT_EQ(stepper.bitRate(), 128000);
    const DecodedStream d = decodeStream(mp3);
    EXPECT_EQ(d.pcm.size(), frameOffsets(mp3).size() * 2304);
}

TEST(FrameStepper, DamageIsPassedOver)
{
    const std::string mp3 = toneMp3(0.5);
    const auto offsets = frameOffsets(mp3);
    ASSERT_GT(offsets.size(), 12u);
    const DecodedStream clean = decodeStream(mp3);
    ASSERT_TRUE(clean.opened);

    struct Case {
        const char* name;
        std::string bytes;
        std::size_t expectedFrames;
    };
    const std::string id3v2 = bytes({'I', 'D', '3', 3, 0, 0, 0, 0, 0, 20}) + repeat('\xFF', 20);
    const Case cases[] = {
        {"ID3v2 tag in front", id3v2 + mp3, offsets.size()},
        {"100 bytes of garbage between frames",
         mp3.substr(0, offsets[10]) + repeat('\0', 100) + mp3.substr(offsets[10]), offsets.size()},
        {"garbage beyond the resynchronisation limit ends the audio",
         mp3.substr(0, offsets[10]) + repeat('\0', 5000) + mp3.substr(offsets[10]), 10},
        {"a frame of another sampling rate is skipped",
         mp3.substr(0, offsets[5]) + bytes({0xFF, 0xFB, 0x94, 0x64}) + mp3.substr(offsets[5] + 4),
         offsets.size() - 1},
    };
    for (const Case& c : cases) {
        const DecodedStream d = decodeStream(c.bytes);
        ASSERT_TRUE(d.opened) << c.name;
        ASSERT_EQ(d.pcm.size(), c.expectedFrames * 2304) << c.name;
        if (c.expectedFrames == offsets.size()) {
            EXPECT_EQ(d.pcm, clean.pcm) << c.name;
        } else {
            EXPECT_TRUE(std::equal(d.pcm.begin(), d.pcm.begin() + 5 * 2304, clean.pcm.begin())) << c.name;
        }
    }
}

TEST(FrameStepper, StreamsThatAreNotPlayableFailToOpen)
{
    std::string freeFormat;
    for (int i = 0; i < 30; ++i)
        freeFormat += bytes({0xFF, 0xFB, 0x00, 0x64}) + repeat('\x11', 296);
    const std::pair<const char*, std::string> cases[] = {
        {"no sync", repeat('\x12', 5000)},
        {"empty", ""},
        {"free format", freeFormat},
        {"Layer III frame cut short", bytes({0xFF, 0xFB, 0x90, 0x64}) + repeat('\0', 100)},
        {"reserved sampling rate", bytes({0xFF, 0xFB, 0x9C, 0x64}) + repeat('\0', 500)},
    };
    for (const auto& [name, stream] : cases)
        EXPECT_FALSE(decodeStream(stream).opened) << name;
}

TEST(OutputChannels, LeftRightAndMonoMixFollowTheStereoDecode)
{
    const std::string mp3 = toneMp3(0.3);
    const auto* data = reinterpret_cast<const std::uint8_t*>(mp3.data());
    const auto offsets = frameOffsets(mp3);
    auto decodeWith = [&](std::uint8_t flags) {
        MpegFrameHeader h;
        const std::int32_t length = ParseFrameHeader(data, 4, h);
        auto decoder = std::make_unique<MpegDecoder>();
        EXPECT_TRUE(decoder->SetupStream(h, length, 0, 0, flags));
        std::vector<std::int16_t> pcm, frame(kMaxPcmBytesPerFrame / 2);
        for (std::size_t offset : offsets) {
            const auto r = decoder->DecodeFrame(data + offset, static_cast<std::int32_t>(mp3.size() - offset),
                                                frame.data());
            EXPECT_GT(r.frameBytes, 0);
            pcm.insert(pcm.end(), frame.begin(), frame.begin() + r.pcmBytes / 2);
        }
        EXPECT_EQ(decoder->GetOutputFormat().channels, flags == OutputBoth ? 2 : 1);
        return pcm;
    };
    decodetest::expectChannelOutputsAgree(decodeWith(OutputBoth), decodeWith(OutputLeftOnly),
                                          decodeWith(OutputRightOnly), decodeWith(OutputMonoMix));
}

TEST(DecodeCommand, WritesPcmOrRefusesWhatIsNotMpegAudio)
{
    TempDir dir;
    const std::string mp3 = dir.file("a.mp3");
    writeFile(mp3, toneMp3(0.3));
    const std::string out = dir.file("a.pcm");
    CommandResult r = run(shellQuote(cliPath()) + " decode " + shellQuote(mp3) + " " + shellQuote(out));
    ASSERT_EQ(r.status, 0);
    const DecodedStream expected = decodeStream(readFile(mp3));
    EXPECT_EQ(toSamples(readFile(out)), expected.pcm);

    r = run(shellQuote(cliPath()) + " decode " + shellQuote(mp3) + " -");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, readFile(out));

    const std::string text = dir.file("text.mp3");
    writeFile(text, "This is not MPEG audio at all.\n");
    r = run(shellQuote(cliPath()) + " decode " + shellQuote(text) + " " + shellQuote(dir.file("b.pcm")) + " 2>&1");
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.output, "unknown MPEG Audio format.\n");

    r = run(shellQuote(cliPath()) + " decode " + shellQuote(dir.file("missing.mp3")) + " - 2>/dev/null");
    EXPECT_NE(r.status, 0);
}

} // namespace
