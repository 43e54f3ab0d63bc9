// Streams made by lame at test time, decoded by us and by FFmpeg's float
// decoder (LAME's at 24 kHz): within 1 LSB everywhere, under every routine
// table the processor options select. And a VBR information frame is never
// played.
#include "compo/mpeg/mpegheader.h"

#include "decodetestsupport.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <iostream>
#include <vector>

using namespace decodetest;
using namespace testsupport;

namespace {

// Two seconds of tones, noise and bursts sharp enough for short blocks.
std::string makeSignal(const TempDir& dir, int rate, int channels)
{
    const std::string wav = dir.file("in-" + std::to_string(rate) + "-" + std::to_string(channels) + ".wav");
    const std::string expr =
        "0.3*sin(2*PI*440*t)+0.2*sin(2*PI*2900*t)*lt(mod(t\\,0.37)\\,0.02)+0.6*lt(mod(t\\,0.53)\\,0.002)"
        "+0.05*(random(0)-0.5)";
    const std::string second = channels == 2 ? "|0.25*sin(2*PI*660*t)+0.4*lt(mod(t\\,0.41)\\,0.003)" : "";
    const std::string cmd = "ffmpeg -nostdin -loglevel error -y -f lavfi -i \"aevalsrc=exprs='" + expr + second +
                            "':s=" + std::to_string(rate) + ":d=2\" -c:a pcm_s16le " + shellQuote(wav);
    EXPECT_EQ(run(cmd).status, 0) << cmd;
    return wav;
}

// What a peer decoder made of a stream, and how ours is compared with it.
struct PeerPcm {
    std::vector<std::int16_t> samples;
    const char* name = "FFmpeg";
    // Our leading samples the peer does not output.
    std::size_t skip = 0;
    // The peer outputs every frame, as we do; else ours may run longer.
    bool sameLength = true;
    // The peer rounds to the nearest sample, so the differences stay small
    // on average too.
    bool closeRounding = true;
};

// Ours within 1 LSB of the peer's under every routine table.
void expectEveryChoiceMatches(const char* caseName, const std::string& stream, int rate, int channels,
                              const PeerPcm& peer)
{
    ReferenceRoutinesAfter restore;
    for (const RoutineChoice& choice : routineChoices()) {
        SCOPED_TRACE(choice.name);
        choice.select();
        const DecodedStream ours = decodeStream(stream);
        ASSERT_TRUE(ours.opened);
        EXPECT_EQ(ours.format.sampleRate, rate);
        EXPECT_EQ(ours.format.channels, channels);
        if (peer.sameLength) {
            ASSERT_EQ(ours.pcm.size(), peer.samples.size()) << "both decoders output every frame";
        } else {
            ASSERT_GE(ours.pcm.size(), peer.samples.size() + peer.skip);
        }
        const Difference d = compare(ours.pcm, peer.skip, peer.samples, 0, peer.samples.size());
        std::cout << caseName << " (" << choice.name << "): " << d.compared << " samples, max " << d.maxAbs
                  << " LSB, RMS " << d.rms << " LSB against " << peer.name << "\n";
        EXPECT_EQ(d.compared, peer.samples.size());
        EXPECT_LE(d.maxAbs, 1) << "at sample " << d.worstIndex;
        if (peer.closeRounding) {
            EXPECT_LT(d.rms, 0.289);
        }
    }
}

struct PeerCase {
    const char* name;
    int rate;
    int channels;
    const char* lameOptions;  // bit rate or VBR quality and channel mode
    // FFmpeg 5.1 mis-decodes some MPEG-2 24 kHz frames (the conformance
    // vector M2L3_compl24 shows it); there LAME's decoder is the peer.
    bool lamePeer = false;
};

// LAME's decoder drops its 529-sample decoder delay from the start.
constexpr std::size_t kLameDecoderDelay = 529;

class PeerDecode : public testing::TestWithParam<PeerCase> {};

TEST_P(PeerDecode, MatchesFfmpegWithinOneLsb)
{
    const PeerCase c = GetParam();
    TempDir dir;
    const std::string wav = makeSignal(dir, c.rate, c.channels);
    const std::string mp3 = dir.file("out.mp3");
    const std::string cmd = "lame --quiet -t " + std::string(c.lameOptions) + " --resample " +
                            std::to_string(c.rate / 1000.0) + " " + shellQuote(wav) + " " + shellQuote(mp3);
    ASSERT_EQ(run(cmd).status, 0) << cmd;
    const std::string peerPcm = dir.file("peer.pcm");
    const std::string decode = c.lamePeer ? "lame --quiet --decode -t " + shellQuote(mp3) + " " + shellQuote(peerPcm)
                                          : "ffmpeg -nostdin -loglevel error -y -c:a mp3float -i " + shellQuote(mp3) +
                                                " -f s16le -c:a pcm_s16le " + shellQuote(peerPcm);
    ASSERT_EQ(run(decode).status, 0) << decode;

    PeerPcm peer;
    peer.samples = toSamples(readFile(peerPcm));
    if (c.lamePeer) {
        peer.name = "LAME";
        peer.skip = kLameDecoderDelay * static_cast<std::size_t>(c.channels);
        peer.sameLength = false;
        peer.closeRounding = false;  // LAME's decoder rounds less closely
    }
    expectEveryChoiceMatches(c.name, readFile(mp3), c.rate, c.channels, peer);
}

INSTANTIATE_TEST_SUITE_P(
    Lame, PeerDecode,
    testing::Values(PeerCase{"mpeg1_32k_stereo_cbr", 32000, 2, "-m s -b 128"},
                    PeerCase{"mpeg1_44k_joint_cbr", 44100, 2, "-m j -b 192"},
                    PeerCase{"mpeg1_48k_mono_cbr", 48000, 1, "-m m -b 64"},
                    PeerCase{"mpeg1_44k_joint_vbr", 44100, 2, "-m j -V 2"},
                    PeerCase{"mpeg1_48k_stereo_320", 48000, 2, "-m s -b 320"},
                    PeerCase{"mpeg2_16k_mono_cbr", 16000, 1, "-m m -b 32"},
                    PeerCase{"mpeg2_22k_joint_cbr", 22050, 2, "-m j -b 64"},
                    PeerCase{"mpeg2_22k_stereo_vbr", 22050, 2, "-m s -V 4"},
                    PeerCase{"mpeg2_24k_joint_cbr", 24000, 2, "-m j -b 96", true},
                    PeerCase{"mpeg25_8k_mono_cbr", 8000, 1, "-m m -b 16"},
                    PeerCase{"mpeg25_11k_joint_cbr", 11025, 2, "-m j -b 32"},
                    PeerCase{"mpeg25_12k_stereo_vbr", 12000, 2, "-m s -V 5"}),
    [](const testing::TestParamInfo<PeerCase>& info) { return std::string(info.param.name); });

TEST(PeerDecodeVbr, XingFrameIsNotPlayed)
{
    TempDir dir;
    const std::string wav = makeSignal(dir, 44100, 2);
    const std::string mp3 = dir.file("vbr.mp3");
    ASSERT_EQ(run("lame --quiet -V 2 " + shellQuote(wav) + " " + shellQuote(mp3)).status, 0);
    const std::string withXing = readFile(mp3);
    ASSERT_GT(withXing.size(), 200u);
    // Cut the first frame, which holds the Xing header.
    morvik::mpeg::MpegFrameHeader h;
    const auto* data = reinterpret_cast<const std::uint8_t*>(withXing.data());
    const std::int32_t length = morvik::mpeg::ParseFrameHeader(data, 4, h) + h.PaddingBit;
    ASSERT_GT(length, 0);
    ASSERT_NE(withXing.find("Xing"), std::string::npos);
    ASSERT_LT(withXing.find("Xing"), static_cast<std::size_t>(length));
    const std::string cut = withXing.substr(static_cast<std::size_t>(length));

    // The Xing frame's counts: the audio after it, and the PCM of its frames.
    auto decoder = std::make_unique<morvik::mpeg::MpegDecoder>();
    morvik::TMPMemoryStream stream(withXing);
    morvik::FrameStepper stepper(*decoder);
    ASSERT_TRUE(stepper.open(stream, true));
    EXPECT_TRUE(stepper.hadVbrHeader());
    EXPECT_EQ(stepper.bitRate(), 0);
    EXPECT_EQ(stepper.audioStart(), length);
    EXPECT_LE(stepper.audioLength(), static_cast<std::int64_t>(withXing.size()) - length);
    EXPECT_GT(stepper.audioLength(), static_cast<std::int64_t>(withXing.size()) - length - 1000);

    const DecodedStream a = decodeStream(withXing);
    const DecodedStream b = decodeStream(cut);
    EXPECT_EQ(stepper.totalPcmBytes(), static_cast<std::int64_t>(a.pcm.size() * 2) - 4608);
    ASSERT_TRUE(a.opened);
    ASSERT_TRUE(b.opened);
    EXPECT_GT(a.pcm.size(), 44100u);
    EXPECT_EQ(a.pcm, b.pcm);
}

} // namespace

namespace {

struct Layer2Case {
    const char* name;
    int rate;
    int channels;
    const char* encoder;  // the encoding command's options
    bool ffmpegEncoder = false;
};

class PeerDecodeLayer2 : public testing::TestWithParam<Layer2Case> {};

// FFmpeg's raw MPEG demuxer drops leading frames whose channel mode differs
// from the frames after them (an encoder's first frame may be plain stereo in
// a joint-stereo stream). Wrapped unchanged in a WAVE file (format 0x0050)
// every frame reaches its decoder.
std::string wrapInWave(const std::string& stream, int rate, int channels)
{
    const std::string fmt = bytes({0x50, 0, channels, 0}) + le32(static_cast<std::uint32_t>(rate)) +
                            le32(16000) + bytes({1, 0, 0, 0});
    const std::string body = "WAVE" + std::string("fmt ") + le32(16) + fmt + "data" +
                             le32(static_cast<std::uint32_t>(stream.size())) + stream;
    return "RIFF" + le32(static_cast<std::uint32_t>(body.size())) + body;
}

TEST_P(PeerDecodeLayer2, MatchesFfmpegWithinOneLsb)
{
    const Layer2Case c = GetParam();
    TempDir dir;
    const std::string wav = makeSignal(dir, c.rate, c.channels);
    const std::string mp2 = dir.file("out.mp2");
    const std::string cmd = c.ffmpegEncoder
                                ? "ffmpeg -nostdin -loglevel error -y -i " + shellQuote(wav) + " -c:a mp2 " +
                                      c.encoder + " -f mp2 " + shellQuote(mp2)
                                : "twolame --quiet " + std::string(c.encoder) + " " + shellQuote(wav) + " " +
                                      shellQuote(mp2);
    ASSERT_EQ(run(cmd).status, 0) << cmd;
    const std::string peerPcm = dir.file("peer.pcm");
    const std::string wrapped = dir.file("wrapped.wav");
    writeFile(wrapped, wrapInWave(readFile(mp2), c.rate, c.channels));
    const std::string decode = "ffmpeg -nostdin -loglevel error -y -c:a mp2float -i " + shellQuote(wrapped) +
                               " -f s16le -c:a pcm_s16le " + shellQuote(peerPcm);
    ASSERT_EQ(run(decode).status, 0) << decode;

    PeerPcm peer;
    peer.samples = toSamples(readFile(peerPcm));
    expectEveryChoiceMatches(c.name, readFile(mp2), c.rate, c.channels, peer);
}

INSTANTIATE_TEST_SUITE_P(
    Twolame, PeerDecodeLayer2,
    testing::Values(Layer2Case{"b2a_48k_stereo_192", 48000, 2, "-m s -b 192"},
                    Layer2Case{"b2a_44k_joint_128", 44100, 2, "-m j -b 128"},
                    Layer2Case{"b2a_48k_stereo_384", 48000, 2, "-m s -b 384"},
                    Layer2Case{"b2b_44k_stereo_256", 44100, 2, "-m s -b 256"},
                    Layer2Case{"b2b_32k_dual_192", 32000, 2, "-m d -b 192"},
                    Layer2Case{"b2b_44k_mono_160", 44100, 1, "-m m -b 160"},
                    Layer2Case{"b2c_48k_stereo_64", 48000, 2, "-m s -b 64"},
                    Layer2Case{"b2c_44k_joint_96", 44100, 2, "-m j -b 96"},
                    Layer2Case{"b2c_48k_mono_32", 48000, 1, "-m m -b 32"},
                    Layer2Case{"b2d_32k_stereo_64", 32000, 2, "-m s -b 64"},
                    Layer2Case{"b2d_32k_joint_96", 32000, 2, "-m j -b 96"},
                    Layer2Case{"b2d_32k_mono_48", 32000, 1, "-m m -b 48"},
                    Layer2Case{"lsf_16k_mono", 16000, 1, "-b:a 32k", true},
                    Layer2Case{"lsf_22k_stereo", 22050, 2, "-b:a 96k", true},
                    Layer2Case{"lsf_24k_stereo", 24000, 2, "-b:a 160k", true}),
    [](const testing::TestParamInfo<Layer2Case>& info) { return std::string(info.param.name); });

} // namespace
