// The player component on the fake wave output, which holds every block
// until the test lets it finish: opening, the state rules of Play, Pause,
// Resume, Stop and Close, the end-of-play notifications and their reasons,
// damage during playback, the drain at the end of the audio, the setters and
// the equalizer; then `morvik-cli render` and `play` against `decode`, and
// random sequences of operations.
#include "compo/mp3plyr.h"
#include "compo/mpeg/cpufeatures.h"

#include "compo/stream.h"
#include "platform/plainqueue.h"
#include "platform/waveoutfake.h"

#include "decodetestsupport.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace decodetest;
using namespace testsupport;
using namespace morvik;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto Generous = std::chrono::seconds(20);

std::string bytesOf(const std::vector<std::int16_t>& pcm)
{
    return std::string(reinterpret_cast<const char*>(pcm.data()), pcm.size() * 2);
}

// Byte offsets of the frames of a stream without tags.
std::vector<std::size_t> frameOffsets(const std::string& bytes)
{
    std::vector<std::size_t> offsets;
    std::size_t p = 0;
    while (p + 4 <= bytes.size()) {
        mpeg::MpegFrameHeader h;
        const std::int32_t length = mpeg::ParseFrameHeader(reinterpret_cast<const std::uint8_t*>(bytes.data() + p), 4, h);
        if (length <= 0)
            break;
        offsets.push_back(p);
        p += static_cast<std::size_t>(length + h.PaddingBit);
    }
    return offsets;
}

// A stream whose reads fail once the test says so.
class FailingStream final : public TMPStream {
public:
    FailingStream(std::string bytes, const std::atomic<bool>& failing) : m_inner(std::move(bytes)), m_failing(failing) {}
    std::int64_t Read(void* buffer, std::int64_t count) override
    {
        if (m_failing)
            throw EMPStreamError("read failed");
        return m_inner.Read(buffer, count);
    }
    std::int64_t Seek(std::int64_t offset, TMPSeekOrigin origin) override { return m_inner.Seek(offset, origin); }
    std::int64_t Size() override { return m_inner.Size(); }

private:
    TMPMemoryStream m_inner;
    const std::atomic<bool>& m_failing;
};

// A player on the fake output and a plain queue that the test pumps.
struct Harness {
    PlainQueue plain;
    NotifyQueueOn<PlainQueue> queue{plain};
    waveout::FakeWaveOut fake;
    TMP3Player player{queue, fake};
    std::vector<int> ends;
    std::vector<std::uint8_t> statusSeen;
    int positionCalls = 0;

    Harness()
    {
        player.LoadFormValues();
        player.OnEndPlay = [this](TMP3Player*, TMP3EndPlayReason r) { ends.push_back(r); };
        player.OnChangeStatus = [this](TMP3Player* p) { statusSeen.push_back(p->Status()); };
        player.OnChangePosition = [this](TMP3Player*) { ++positionCalls; };
    }

    void openBytes(const std::string& bytes, bool seekable = true)
    {
        player.OpenStream(new TMPMemoryStream(bytes), static_cast<std::uint8_t>(mpsfOwned | (seekable ? mpsfSeekable : 0)));
    }

    // Pumps (letting the fake finish blocks when `release`) until `done`.
    bool runUntil(const std::function<bool()>& done, bool release = true)
    {
        const auto deadline = Clock::now() + Generous;
        while (Clock::now() < deadline) {
            plain.pump();
            if (done())
                return true;
            if (release)
                fake.releaseBlock();
            plain.waitForMessage(2);
        }
        return false;
    }
    bool playToEnd()
    {
        const std::size_t before = ends.size();
        return runUntil([&] { return ends.size() > before; });
    }
    // Everything written to the device, in order.
    std::string written() const
    {
        std::string all;
        for (const auto& block : fake.writtenBlocks())
            all.append(block.begin(), block.end());
        return all;
    }
};

std::string decoded(const std::string& mp3)
{
    const DecodedStream d = decodeStream(mp3);
    EXPECT_TRUE(d.opened);
    return bytesOf(d.pcm);
}

TEST(Player, FileNameWithAutoOpenAndAutoPlayStartsAtOnceAndPlayThenDoesNothing)
{
    TempDir dir;
    const std::string mp3 = toneMp3(0.5);
    writeFile(dir.file("a.mp3"), mp3);
    Harness h;
    h.player.SetFileName(dir.file("a.mp3"));
    EXPECT_TRUE(h.player.IsOpen());
    EXPECT_EQ(h.player.Status(), mpsPlaying);
    EXPECT_FALSE(h.player.Abilities() & mpaPlay);
    h.player.Play();
    EXPECT_EQ(h.player.Status(), mpsPlaying);
    ASSERT_TRUE(h.playToEnd());
    EXPECT_EQ(h.ends, std::vector<int>{meprEndOfFile});
    EXPECT_TRUE(h.written() == decoded(mp3)) << "played once, from the first frame";
    EXPECT_EQ(h.player.Status(), mpsStopped);
    EXPECT_TRUE(h.player.IsOpen()) << "a seekable file stays open";
    EXPECT_EQ(h.player.FileName(), dir.file("a.mp3"));
}

TEST(Player, OperationsInTheWrongStateDoNothing)
{
    Harness h;
    h.player.SetAutoPlay(false);
    // Closed: only bit 0, and nothing acts.
    EXPECT_EQ(h.player.Abilities(), mpaAlways);
    h.player.Play();
    h.player.Pause();
    h.player.Stop();
    EXPECT_EQ(h.player.Status(), mpsStopped);

    h.openBytes(toneMp3(0.5));
    EXPECT_EQ(h.player.Abilities(), mpaAlways | mpaOpen | mpaPlay | mpaStopped);
    h.player.Pause();
    EXPECT_EQ(h.player.Status(), mpsStopped) << "Pause while stopped";
    h.player.Resume();
    EXPECT_EQ(h.player.Status(), mpsStopped) << "Resume while stopped";
    h.player.Play();
    h.player.Resume();
    EXPECT_EQ(h.player.Status(), mpsPlaying) << "Resume while playing";
    EXPECT_FALSE(h.fake.paused());
    h.player.Pause();
    EXPECT_EQ(h.player.Status(), mpsPaused);
    EXPECT_TRUE(h.fake.paused());
    EXPECT_EQ(h.player.Abilities(), mpaAlways | mpaOpen | mpaStop | mpaResume | mpaSeek);
    h.player.Play();
    EXPECT_EQ(h.player.Status(), mpsPaused) << "Play while paused";
    h.player.Resume();
    EXPECT_EQ(h.player.Status(), mpsPlaying);
    EXPECT_FALSE(h.fake.paused());
    h.player.Stop();
    h.plain.pump();
    EXPECT_EQ(h.ends, std::vector<int>{meprStop});
}

TEST(Player, RenderingToAWaveFileCannotPause)
{
    TempDir dir;
    Harness h;
    h.player.SetAutoPlay(false);
    h.openBytes(toneMp3(0.3));
    h.player.WaveFileName = dir.file("out.wav");
    h.player.Play();
    EXPECT_FALSE(h.player.Abilities() & (mpaPause | mpaSeek));
    h.player.Pause();
    EXPECT_EQ(h.player.Status(), mpsPlaying);
    ASSERT_TRUE(h.playToEnd());
    EXPECT_TRUE(h.player.WaveFileName.empty()) << "Stop empties it";
    EXPECT_TRUE(h.fake.writtenBlocks().empty());
    EXPECT_TRUE(readFile(dir.file("out.wav")).substr(44) == decoded(toneMp3(0.3)));
}

// The Info frame of lame's CBR output turned into a Xing or VBRI frame.
std::string withVbrFrame(const std::string& mp3, bool xing)
{
    std::string s = mp3;
    const std::size_t tag = s.find("Info");
    EXPECT_EQ(tag, 36u);
    const auto frames = static_cast<std::uint32_t>(frameOffsets(mp3).size());
    if (xing)
        s.replace(tag, 16, "Xing" + be32(3) + be32(frames) + be32(static_cast<std::uint32_t>(s.size())));
    else
        s.replace(tag, 18, "VBRI" + bytes({0, 1, 0, 0, 0, 50}) + be32(static_cast<std::uint32_t>(s.size())) + be32(frames));
    return s;
}

TEST(Player, StopThenPlayRestartsAtTheFirstFrameAfterTagsAndInformationFrames)
{
    const std::string mp3 = toneMp3(1.0);
    const std::string id3v2 = "ID3" + bytes({3, 0, 0}) + syncsafe(30) + repeat('\0', 30);
    const std::size_t firstFrameLength = frameOffsets(mp3)[1];
    struct Case {
        const char* name;
        std::string bytes;
        std::int64_t audioStart;
        bool vbr;
    };
    const Case cases[] = {
        {"ID3v2 tag", id3v2 + mp3, 40, false},
        {"ID3v2 tag and Xing frame", id3v2 + withVbrFrame(mp3, true), static_cast<std::int64_t>(40 + firstFrameLength), true},
        {"VBRI frame", withVbrFrame(mp3, false), static_cast<std::int64_t>(firstFrameLength), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string expected = decoded(c.bytes);
        Harness h;
        h.player.SetAutoPlay(false);
        h.openBytes(c.bytes);
        EXPECT_EQ(h.player.AudioStart(), c.audioStart);
        if (c.vbr) {
            const auto frames = frameOffsets(mp3).size();
            EXPECT_EQ(h.player.BitRate(), 0);
            EXPECT_EQ(h.player.TotalPcmBytes(), static_cast<std::int64_t>((frames - 1) * 4608));
            EXPECT_EQ(expected.size(), (frames - 1) * 4608) << "the information frame is not played";
        }
        h.player.Play();
        ASSERT_TRUE(h.runUntil([&] { return h.fake.writtenBlocks().size() >= 2; }));
        h.player.Stop();
        h.plain.pump();
        const std::size_t blocksBefore = h.fake.writtenBlocks().size();
        h.player.Play();
        ASSERT_TRUE(h.playToEnd());
        std::string second;
        const auto blocks = h.fake.writtenBlocks();
        for (std::size_t i = blocksBefore; i < blocks.size(); ++i)
            second.append(blocks[i].begin(), blocks[i].end());
        EXPECT_TRUE(second == expected) << second.size() << " bytes played after the restart, " << expected.size()
                                        << " decoded";
        EXPECT_EQ(h.ends, (std::vector<int>{meprStop, meprEndOfFile}));
    }
}

TEST(Player, EndOfFilePlaysEveryQueuedBlockBeforeOnEndPlay)
{
    Harness h;
    h.openBytes(toneMp3(3.0)); // more than the four blocks hold
    ASSERT_TRUE(h.runUntil([&] { return h.fake.queuedBlocks() == 4; }, false));
    // Let blocks finish one at a time; the end comes only after the last.
    while (h.ends.empty()) {
        h.plain.pump();
        if (h.fake.queuedBlocks() > 0) {
            EXPECT_TRUE(h.ends.empty());
            h.fake.releaseBlock();
        }
        h.plain.waitForMessage(2);
    }
    EXPECT_EQ(h.fake.queuedBlocks(), 0u);
    EXPECT_EQ(h.fake.completedBlocks(), h.fake.writtenBlocks().size());
    EXPECT_EQ(h.ends, std::vector<int>{meprEndOfFile});
    EXPECT_EQ(h.player.Status(), mpsStopped);
    EXPECT_GT(h.positionCalls, 0);
}

TEST(Player, StopAndCloseGiveOneOnEndPlayWithStop)
{
    TempDir dir;
    writeFile(dir.file("a.mp3"), toneMp3(3.0));
    for (bool close : {false, true}) {
        SCOPED_TRACE(close ? "Close" : "Stop");
        Harness h;
        h.player.SetFileName(dir.file("a.mp3"));
        ASSERT_TRUE(h.runUntil([&] { return h.fake.queuedBlocks() == 4; }, false));
        if (close)
            h.player.Close();
        else
            h.player.Stop();
        h.plain.pump();
        h.plain.pump();
        EXPECT_EQ(h.ends, std::vector<int>{meprStop});
        EXPECT_FALSE(h.fake.playing()) << "the device is closed";
        EXPECT_EQ(h.player.IsOpen(), !close);
        EXPECT_EQ(h.player.FileName().empty(), close);
    }
}

TEST(Player, AnUnseekableStreamClosesAtItsEnd)
{
    Harness h;
    h.openBytes(toneMp3(0.3), false);
    ASSERT_TRUE(h.playToEnd());
    EXPECT_EQ(h.ends, std::vector<int>{meprEndOfFile});
    EXPECT_FALSE(h.player.IsOpen());
}

TEST(Player, SettersKeepTheirBounds)
{
    Harness h;
    struct Case {
        const char* name;
        std::function<void()> set;
        std::function<std::int32_t()> get;
        std::int32_t expected;
    };
    TMP3Player& p = h.player;
    const Case cases[] = {
        {"ChangePosStep 99", [&] { p.SetChangePosStep(99); }, [&] { return p.ChangePosStep(); }, 400},
        {"ChangePosStep 100", [&] { p.SetChangePosStep(100); }, [&] { return p.ChangePosStep(); }, 100},
        {"VolBalance -101", [&] { p.SetVolBalance(-101); }, [&] { return p.VolBalance(); }, 0},
        {"VolBalance 101", [&] { p.SetVolBalance(101); }, [&] { return p.VolBalance(); }, 0},
        {"VolBalance -100", [&] { p.SetVolBalance(-100); }, [&] { return p.VolBalance(); }, -100},
        {"Volume 101", [&] { p.SetVolume(101); }, [&] { return p.Volume(); }, 100},
        {"Volume -1", [&] { p.SetVolume(-1); }, [&] { return p.Volume(); }, 100},
        {"Volume 0", [&] { p.SetVolume(0); }, [&] { return p.Volume(); }, 0},
        {"EqualizerCount 0", [&] { p.SetEqualizerCount(0); }, [&] { return p.EqualizerCount(); }, 6},
        {"EqualizerCount -1", [&] { p.SetEqualizerCount(-1); }, [&] { return p.EqualizerCount(); }, 6},
        {"EqualizerCount 33", [&] { p.SetEqualizerCount(33); }, [&] { return p.EqualizerCount(); }, 6},
        {"EqualizerCount 32", [&] { p.SetEqualizerCount(32); }, [&] { return p.EqualizerCount(); }, 32},
    };
    for (const Case& c : cases) {
        c.set();
        EXPECT_EQ(c.get(), c.expected) << c.name;
    }
    // Setting the current value again posts nothing.
    h.plain.pump();
    p.SetEqualizerCount(32);
    p.SetEqualizerEnabled(false);
    p.SetEqualizerMode(memSubBand);
    EXPECT_EQ(h.plain.pendingCount(), 0u);
    p.SetEqualizerEnabled(true);
    p.SetEqualizerMode(memFreq);
    EXPECT_EQ(h.plain.pendingCount(), 1u) << "posted once";
}

TEST(Player, FormValuesAfterLoaded)
{
    Harness h; // LoadFormValues ran
    const TMP3Player& p = h.player;
    EXPECT_TRUE(p.AutoOpen());
    EXPECT_TRUE(p.AutoPlay());
    EXPECT_EQ(p.ChangePosStep(), 400);
    EXPECT_EQ(p.DecodePriority(), tpNormal);
    EXPECT_FALSE(p.EqualizerEnabled());
    EXPECT_EQ(p.EqualizerCount(), 6);
    EXPECT_EQ(p.EqualizerMode(), memSubBand);
    EXPECT_EQ(p.NeedInfoType(), (TMP3InfoType{mitID3V1, mitID3V2, mitRiff}));
    // All six, less what this processor lacks.
    EXPECT_EQ(p.UsingCpuCapabilities(), mpeg::FeaturesToCapabilities(mpeg::CpuFeatures()));
    EXPECT_EQ(p.VolBalance(), 0);
    EXPECT_EQ(p.Volume(), 100);
    EXPECT_EQ(p.Status(), mpsStopped);
    EXPECT_FALSE(p.IsOpen());
}

TEST(Player, StatusNotificationsAreCoalesced)
{
    Harness h;
    h.player.SetAutoPlay(false);
    h.openBytes(toneMp3(2.0));
    h.plain.pump();
    h.statusSeen.clear();
    h.player.Play();
    h.player.Pause();
    h.player.Resume();
    h.player.Pause();
    h.plain.pump();
    EXPECT_EQ(h.statusSeen, std::vector<std::uint8_t>{mpsPaused}) << "one call, newest status";
    h.player.Stop();
}

TEST(Player, StreamsThatAreNotMpegAudioFailAndLeaveThePlayerClosed)
{
    std::string freeFormat;
    for (int i = 0; i < 30; ++i)
        freeFormat += bytes({0xFF, 0xFB, 0x00, 0x64}) + repeat('\x11', 296);
    const std::pair<const char*, std::string> cases[] = {
        {"no sync", repeat('\x12', 5000)},
        {"free format", freeFormat},
    };
    for (const auto& [name, stream] : cases) {
        Harness h;
        h.openBytes(toneMp3(0.3));
        h.player.Stop();
        try {
            h.openBytes(stream);
            ADD_FAILURE() << name << " opened";
        } catch (const EMPError& e) {
            EXPECT_STREQ(e.what(), "unknown MPEG Audio format.") << name;
        }
        EXPECT_FALSE(h.player.IsOpen()) << name;
        EXPECT_EQ(h.player.Abilities(), mpaAlways) << name;
    }

    // A file that cannot be opened at all: the previous file is closed too.
    Harness h;
    h.openBytes(toneMp3(0.3));
    TempDir dir;
    try {
        h.player.SetFileName(dir.file("missing.mp3")); // opens at once when AutoOpen is on
        h.player.Open();
        ADD_FAILURE() << "a missing file opened";
    } catch (const std::exception&) {
    }
    EXPECT_FALSE(h.player.IsOpen());
    EXPECT_TRUE(h.player.FileName().empty());
}

TEST(Player, DamageDuringPlaybackIsPassedOver)
{
    const std::string mp3 = toneMp3(0.5);
    const auto offsets = frameOffsets(mp3);
    const std::string clean = decoded(mp3);
    struct Case {
        const char* name;
        std::string bytes;
        std::size_t frames;
    };
    const Case cases[] = {
        {"100 bytes of garbage", mp3.substr(0, offsets[10]) + repeat('\0', 100) + mp3.substr(offsets[10]), offsets.size()},
        {"garbage beyond 4096 bytes ends the audio", mp3.substr(0, offsets[10]) + repeat('\0', 5000) + mp3.substr(offsets[10]), 10},
        {"a frame of another sampling rate",
         mp3.substr(0, offsets[5]) + bytes({0xFF, 0xFB, 0x94, 0x64}) + mp3.substr(offsets[5] + 4), offsets.size() - 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.openBytes(c.bytes);
        ASSERT_TRUE(h.playToEnd());
        EXPECT_EQ(h.ends, std::vector<int>{meprEndOfFile});
        const std::string played = h.written();
        ASSERT_EQ(played.size(), c.frames * 4608);
        EXPECT_TRUE(played.substr(0, 5 * 4608) == clean.substr(0, 5 * 4608));
        if (c.frames == offsets.size()) {
            EXPECT_TRUE(played == clean);
        }
    }
}

TEST(Player, AReadErrorWhilePlayingEndsWithError)
{
    std::atomic<bool> failing{false};
    Harness h;
    h.player.SetAutoPlay(false);
    h.player.OpenStream(new FailingStream(toneMp3(10.0), failing), mpsfSeekable | mpsfOwned);
    failing = true;
    h.player.Play();
    ASSERT_TRUE(h.playToEnd());
    EXPECT_EQ(h.ends, std::vector<int>{meprError});
    EXPECT_EQ(h.player.Status(), mpsStopped);
}

TEST(Player, AFileTruncatedOrReplacedWhilePlayingEnds)
{
    const std::string mp3 = toneMp3(10.0); // more than the reader and the blocks hold
    const std::pair<const char*, std::string> cases[] = {
        {"truncated", mp3.substr(0, 1000)},
        {"replaced by garbage", repeat('\x5A', mp3.size())},
    };
    for (const auto& [name, replacement] : cases) {
        SCOPED_TRACE(name);
        TempDir dir;
        writeFile(dir.file("a.mp3"), mp3);
        Harness h;
        h.player.SetFileName(dir.file("a.mp3"));
        ASSERT_TRUE(h.runUntil([&] { return h.fake.queuedBlocks() == 4; }, false));
        writeFile(dir.file("a.mp3"), replacement); // the same file, cut or overwritten
        ASSERT_TRUE(h.playToEnd());
        ASSERT_EQ(h.ends.size(), 1u);
        EXPECT_NE(h.ends[0], meprStop);
        EXPECT_LT(h.written().size(), decoded(mp3).size());
    }
}

TEST(Player, StopOrCloseDuringAPausedDrainReturnPromptly)
{
    for (bool close : {false, true}) {
        SCOPED_TRACE(close ? "Close" : "Stop");
        Harness h;
        h.openBytes(toneMp3(0.3)); // less than one block: all of it goes out in the drain's flush
        h.player.Pause();
        ASSERT_TRUE(h.runUntil([&] { return h.fake.queuedBlocks() == 1; }, false));
        // The decode thread now waits for that block, which the paused
        // device holds.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const auto start = Clock::now();
        if (close)
            h.player.Close();
        else
            h.player.Stop();
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
        for (int i = 0; i < 50; ++i) { // nothing more arrives
            h.plain.pump();
            std::this_thread::sleep_for(std::chrono::milliseconds(4));
        }
        EXPECT_EQ(h.ends, std::vector<int>{meprStop});
        EXPECT_EQ(h.player.Status(), mpsStopped);
        if (!close) {
            // And the file plays again from the start.
            h.player.Play();
            ASSERT_TRUE(h.playToEnd());
            EXPECT_EQ(h.ends.back(), meprEndOfFile);
        }
    }
}

TEST(Equalizer, BandFrequenciesAndCentres)
{
    Harness h;
    TMP3Player& p = h.player;
    p.SetEqualizerBandRange(60, 16000);
    EXPECT_EQ(std::vector<std::int32_t>(p.BandFrequencies().begin(), p.BandFrequencies().begin() + 6),
              (std::vector<std::int32_t>{60, 183, 560, 1712, 5234, 16000}));
    h.plain.pump();
    for (auto [low, high] : {std::pair{1, 24001}, std::pair{0, 16000}, std::pair{500, 400}}) {
        p.SetEqualizerBandRange(low, high);
        EXPECT_EQ(h.plain.pendingCount(), 0u) << low << ".." << high;
    }
    EXPECT_EQ(p.BandFrequencies()[1], 183);

    p.SetAutoPlay(false);
    h.openBytes(toneMp3(0.3));
    h.plain.pump();
    EXPECT_EQ(p.SampleRate(), 44100);
    EXPECT_EQ(p.BandFrequencies()[0], 345);
    EXPECT_EQ(p.BandFrequencies()[1], 1034);
    EXPECT_EQ(p.BandFrequencies()[2], 1723);
    EXPECT_EQ(p.SubBandCentre(31), 21705);
    EXPECT_EQ(p.LineCentre(0), 19);
}

TEST(Equalizer, ModesSwitchTheTablesForTheLayer)
{
    Harness h;
    TMP3Player& p = h.player;
    p.SetAutoPlay(false);
    h.openBytes(toneMp3(0.3)); // Layer III
    p.SetEqualizerEnabled(true);
    h.plain.pump();
    EXPECT_TRUE(p.SubBandEqualizerOn()) << "sub-band mode";
    EXPECT_FALSE(p.LineEqualizerOn());
    for (float f : p.SubBandFactors())
        EXPECT_EQ(f, 1.0f);

    p.SetEqualizerMode(memFreq);
    p.SetEqualizerBandRange(60, 16000);
    p.SetBandGain(2, -100); // the 560 Hz band, nearest to the 440 Hz tone, a tenth
    h.plain.pump();
    EXPECT_FALSE(p.SubBandEqualizerOn());
    EXPECT_TRUE(p.LineEqualizerOn());
    EXPECT_EQ(p.LineFactors()[0], 1.0f);
    EXPECT_EQ(p.LineFactors()[11], 0.1f) << "line 11 is centred on 440 Hz";
    EXPECT_EQ(p.LineFactors()[575], 1.0f);
    // The factors reach the decoder: the sound changes.
    p.Play();
    ASSERT_TRUE(h.playToEnd());
    EXPECT_FALSE(h.written() == decoded(toneMp3(0.3)));
}

// ---- the command-line tool ------------------------------------------------

std::string runCli(const std::string& args)
{
    const CommandResult r = run(shellQuote(cliPath()) + " " + args);
    EXPECT_EQ(r.status, 0) << args;
    return r.output;
}

TEST(PlayerCommands, RenderAndPlayEqualDecode)
{
    TempDir dir;
    const std::string in = dir.file("a.mp3");
    writeFile(in, "ID3" + bytes({3, 0, 0}) + syncsafe(30) + repeat('\0', 30) + withVbrFrame(toneMp3(1.0), true));
    runCli("decode " + shellQuote(in) + " " + shellQuote(dir.file("a.pcm")));
    const std::string pcm = readFile(dir.file("a.pcm"));
    ASSERT_GT(pcm.size(), 40000u);

    for (const char* cpu : {"", "--cpu auto ", "--cpu reference "}) {
        runCli(std::string("render ") + cpu + shellQuote(in) + " " + shellQuote(dir.file("a.wav")));
        const std::string wav = readFile(dir.file("a.wav"));
        ASSERT_GE(wav.size(), 44u);
        EXPECT_EQ(wav.substr(0, 4), "RIFF");
        EXPECT_TRUE(wav.substr(44) == pcm) << cpu;
    }

    // ALSA's file plug-in over the null device keeps what reaches ALSA.
    writeFile(dir.file(".asoundrc"), "pcm.morviktap { type file; slave.pcm \"null\"; file \"" + dir.file("tap.raw") +
                                         "\"; format \"raw\" }\n");
    run("HOME=" + shellQuote(dir.path()) + " MORVIK_ALSA_DEVICE=morviktap " + shellQuote(cliPath()) + " play " +
        shellQuote(in) + " > " + shellQuote(dir.file("play.out")));
    EXPECT_TRUE(readFile(dir.file("tap.raw")) == pcm);
    const std::string log = readFile(dir.file("play.out"));
    EXPECT_NE(log.find("status=playing"), std::string::npos) << log;
    EXPECT_NE(log.find("end=meprEndOfFile"), std::string::npos) << log;
}

TEST(PlayerCommands, InfoAndRefusals)
{
    TempDir dir;
    const std::string in = dir.file("a.mp3");
    writeFile(in, "ID3" + bytes({3, 0, 0}) + syncsafe(30) + repeat('\0', 30) + toneMp3(0.3));
    const std::string info = runCli("info " + shellQuote(in));
    for (const char* line : {"AudioStart=40\n", "InfoTypes=mitID3V2\n", "MpegVersion=1\n", "LayerNumber=3\n",
                             "SampleRate=44100\n", "Channels=2\n", "BitRate=128000\n", "TotalPcmBytes=0\n"})
        EXPECT_NE(info.find(line), std::string::npos) << line << info;

    writeFile(dir.file("junk"), repeat('\x12', 5000));
    for (const char* cmd : {"info", "render", "play"}) {
        const std::string extra = std::string(cmd) == "render" ? " " + shellQuote(dir.file("o.wav")) : "";
        const CommandResult r = run(shellQuote(cliPath()) + " " + cmd + " " + shellQuote(dir.file("junk")) + extra +
                                    " 2> " + shellQuote(dir.file("err")));
        EXPECT_NE(r.status, 0) << cmd;
        EXPECT_EQ(readFile(dir.file("err")), "unknown MPEG Audio format.\n") << cmd;
    }
    EXPECT_EQ(run(shellQuote(cliPath()) + " render --cpu fast a b 2>/dev/null").status, 2);
}

TEST(PlayerCommands, PlayStopsCleanlyOnInterrupt)
{
    TempDir dir;
    // The null device takes the sound as fast as it comes: a long list of
    // files (hours of sound, many seconds of decoding even on a fast
    // processor) keeps the player busy until the interrupt.
    writeFile(dir.file("a.mp3"), toneMp3(30.0));
    std::string list;
    for (int i = 0; i < 400; ++i)
        list += " " + shellQuote(dir.file("a.mp3"));
    const CommandResult r = run("MORVIK_ALSA_DEVICE=null timeout --preserve-status -s INT 1 " + shellQuote(cliPath()) +
                                " play" + list + " > " + shellQuote(dir.file("out")));
    EXPECT_EQ(r.status, 130);
    const std::string out = readFile(dir.file("out"));
    EXPECT_NE(out.find("end=meprEndOfFile"), std::string::npos) << "some files played before";
    std::size_t files = 0;
    for (std::size_t at = out.find("file="); at != std::string::npos; at = out.find("file=", at + 1))
        ++files;
    EXPECT_LT(files, 400u) << "interrupted before the end of the list";
}

// ---- random sequences -------------------------------------------------------

TEST(PlayerStress, RandomSequencesOfOperations)
{
    TempDir dir;
    writeFile(dir.file("a.mp3"), toneMp3(0.5));
    writeFile(dir.file("b.mp3"), toneMp3(1.0));
    Harness h;
    std::mt19937 random(1234);
    for (int sequence = 0; sequence < 1000; ++sequence) {
        for (int step = 0; step < 6; ++step) {
            h.plain.pump();
            const std::uint8_t before = h.player.Status();
            const std::size_t endsBefore = h.ends.size();
            const int op = static_cast<int>(random() % 7);
            switch (op) {
            case 0: h.player.Play(); break;
            case 1: h.player.Pause(); break;
            case 2: h.player.Resume(); break;
            case 3: h.player.Stop(); break;
            case 4: h.player.Close(); break;
            case 5: h.player.SetFileName(dir.file(random() % 2 ? "a.mp3" : "b.mp3")); break;
            default:
                for (unsigned n = random() % 6; n > 0; --n)
                    h.fake.releaseBlock();
                h.plain.waitForMessage(1); // an end of file may be on its way
                break;
            }
            h.plain.pump();
            if ((op == 3 || op == 4 || op == 5) && before != mpsStopped) {
                ASSERT_EQ(h.ends.size(), endsBefore + 1) << "sequence " << sequence << " op " << op;
                EXPECT_EQ(h.ends.back(), meprStop);
            }
            if (op == 4) {
                EXPECT_FALSE(h.player.IsOpen());
            }
        }
    }
    h.player.Close();
    h.plain.pump();
    EXPECT_GT(std::count(h.ends.begin(), h.ends.end(), meprStop), 100);
    EXPECT_GT(std::count(h.ends.begin(), h.ends.end(), meprEndOfFile), 0);
}

} // namespace
