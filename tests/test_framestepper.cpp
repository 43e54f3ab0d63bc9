// Opening and stepping through streams as the player does, and the
// `morvik-cli decode` command built on it.
#include "compo/framestepper.h"
#include "compo/mpeg/mpegheader.h"
#include "compo/stream.h"

#include "decodetestsupport.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace decodetest;
using namespace testsupport;
using namespace morvik;
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

std::string riffChunk(const std::string& id, const std::string& body)
{
    return id + le32(static_cast<std::uint32_t>(body.size())) + body + std::string(body.size() % 2, '\0');
}

std::string lyrics2(const std::string& lyrics)
{
    char length[6];
    std::snprintf(length, sizeof length, "%05zu", lyrics.size());
    const std::string block = "LYRICSBEGIN" + std::string("LYR") + length + lyrics;
    char size[7];
    std::snprintf(size, sizeof size, "%06zu", block.size());
    return block + size + "LYRICS200";
}

// A whole frame of `mp3`: placed in data around the audio, it would be
// decoded by anything that resynchronises over that data.
std::string strayFrame(const std::string& mp3)
{
    const auto offsets = frameOffsets(mp3);
    return mp3.substr(offsets[3], offsets[4] - offsets[3]);
}

struct Opened {
    std::unique_ptr<MpegDecoder> decoder = std::make_unique<MpegDecoder>();
    TMPMemoryStream stream;
    FrameStepper stepper{*decoder};
    bool ok;
    Opened(const std::string& bytes, bool seekable = true) : stream(bytes), ok(stepper.open(stream, seekable)) {}
};

TEST(FrameStepper, InfoFrameIsPlayedLikeAnyOther)
{
    const std::string mp3 = toneMp3(0.3);
    ASSERT_NE(mp3.find("Info"), std::string::npos);
    auto decoder = std::make_unique<MpegDecoder>();
    TMPMemoryStream stream(mp3);
    FrameStepper stepper(*decoder);
    ASSERT_TRUE(stepper.open(stream, true));
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

TEST(FrameStepper, TrailingTagsEndTheAudio)
{
    const std::string mp3 = toneMp3(0.3);
    const DecodedStream clean = decodeStream(mp3);
    ASSERT_TRUE(clean.opened);
    const std::string id3v1 = "TAG" + repeat(' ', 124) + bytes({12});
    const std::string stray = strayFrame(mp3);
    const std::pair<const char*, std::string> cases[] = {
        {"ID3v1", id3v1},
        {"Lyrics3 v1 and ID3v1", "LYRICSBEGIN" + stray + "LYRICSEND" + id3v1},
        {"Lyrics3 v2 and ID3v1", lyrics2(stray) + id3v1},
        {"Lyrics3 v2 alone", lyrics2(stray)},
    };
    for (const auto& [name, tags] : cases) {
        SCOPED_TRACE(name);
        Opened o(mp3 + tags);
        ASSERT_TRUE(o.ok);
        EXPECT_EQ(o.stepper.audioStart(), 0);
        EXPECT_EQ(o.stepper.audioLength(), static_cast<std::int64_t>(mp3.size()));
        EXPECT_EQ(remainingPcm(o.stepper), clean.pcm);
        EXPECT_EQ(o.stepper.position(), static_cast<std::int64_t>(mp3.size()));
    }
}

TEST(FrameStepper, LeadingDataIsPassedOverWithOrWithoutSeeking)
{
    const std::string mp3 = toneMp3(0.3);
    const DecodedStream clean = decodeStream(mp3);
    ASSERT_TRUE(clean.opened);
    const std::string stray = strayFrame(mp3);
    const std::string title = "TIT2" + be32(5) + bytes({0, 0, 0}) + "Song";
    std::string macBinary(128, '\0');
    macBinary[1] = 8;
    macBinary.replace(2, 8, "song.mp3");
    macBinary.replace(83, 4, be32(static_cast<std::uint32_t>(mp3.size())));
    macBinary.replace(87, 4, be32(static_cast<std::uint32_t>(stray.size())));
    const std::string chunks = riffChunk("fmt ", std::string(30, '\1')) + "data" +
                               le32(static_cast<std::uint32_t>(mp3.size()));
    const std::string riffHead =
        "RIFF" + le32(static_cast<std::uint32_t>(chunks.size() + mp3.size() + 4)) + "WAVE" + chunks;
    struct Case {
        const char* name;
        std::string before;
        std::string after;
    };
    const Case cases[] = {
        {"ID3v2.3 tag", "ID3" + bytes({3, 0, 0}) + syncsafe(20) + title + repeat('\0', 5), ""},
        // The size counts neither header nor footer.
        {"ID3v2.4 tag with a footer",
         "ID3" + bytes({4, 0, 0x10}) + syncsafe(15) + title + "3DI" + bytes({4, 0, 0x10}) + syncsafe(15), ""},
        {"MacBinary data fork", macBinary, stray},
        {"RIFF data chunk", riffHead, std::string(mp3.size() % 2, '\0') + riffChunk("junk", stray)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Opened o(c.before + mp3 + c.after);
        ASSERT_TRUE(o.ok);
        EXPECT_EQ(o.stepper.audioStart(), static_cast<std::int64_t>(c.before.size()));
        EXPECT_EQ(o.stepper.audioLength(), static_cast<std::int64_t>(mp3.size()));
        EXPECT_EQ(remainingPcm(o.stepper), clean.pcm);
        // Without seeking only the leading data is surveyed.
        EXPECT_EQ(decodeStream(c.before + mp3 + c.after, false).pcm, clean.pcm);
    }
}

TEST(FrameStepper, RewindStartsAgainAfterTheXingFrame)
{
    std::string mp3 = toneMp3(0.3);
    const std::size_t tagAt = mp3.find("Info");
    ASSERT_NE(tagAt, std::string::npos);
    mp3.replace(tagAt, 4, "Xing");
    const std::string tagged = "ID3" + bytes({3, 0, 0}) + syncsafe(20) + repeat('\0', 20) + mp3;
    Opened o(tagged);
    ASSERT_TRUE(o.ok);
    EXPECT_TRUE(o.stepper.hadVbrHeader());
    const std::int64_t firstFrame = static_cast<std::int64_t>(30 + frameOffsets(mp3)[1]);
    EXPECT_EQ(o.stepper.audioStart(), firstFrame);
    const std::vector<std::int16_t> first = remainingPcm(o.stepper);
    EXPECT_EQ(first.size(), (frameOffsets(mp3).size() - 1) * 2304);
    o.stepper.rewind();
    EXPECT_EQ(o.stepper.position(), firstFrame);
    EXPECT_EQ(remainingPcm(o.stepper), first);
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

TEST(DecodeCommand, ReadsPipesAndReportsUnreadableInput)
{
    TempDir dir;
    const std::string mp3 = dir.file("a.mp3");
    writeFile(mp3, toneMp3(0.3));
    const std::string cli = shellQuote(cliPath());
    CommandResult r = run("cat " + shellQuote(mp3) + " | " + cli + " decode /dev/stdin -");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(toSamples(r.output), decodeStream(readFile(mp3)).pcm);

    const std::pair<std::string, std::string> failures[] = {
        {dir.file("missing.mp3"), ": No such file or directory\n"},
        {dir.path(), ": Is a directory\n"},
    };
    for (const auto& [in, reason] : failures) {
        r = run(cli + " decode " + shellQuote(in) + " - 2>&1");
        EXPECT_EQ(r.status, 1) << in;
        EXPECT_EQ(r.output, in + reason);
    }
}

} // namespace
