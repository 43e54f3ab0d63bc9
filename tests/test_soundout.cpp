// The sound output on ALSA's "null" device and in WAVE-file mode: block
// sizes, Write taking what fits, free room, the file's header, volume and
// balance in the samples that reach the device, setters that ignore bad
// values, and device errors with their labels. On the fake wave output,
// which holds each block until the test releases it: pause, reset and the
// drain at Close one step at a time, and the label of each failing call.
#include "compo/soundout.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

#include "compo/mpassert.h"
#include "platform/waveout.h"
#include "platform/waveoutalsa.h"
#include "platform/waveoutfake.h"
#include "testsupport.h"

using namespace morvik;

namespace {

constexpr std::int32_t Generous = 20000; // ms

// Every test plays to the device that needs no sound card.
class NullDevice : public testing::Environment {
public:
    void SetUp() override { setenv("MORVIK_ALSA_DEVICE", "null", 1); }
};
const auto* const nullDevice = testing::AddGlobalTestEnvironment(new NullDevice);

std::uint32_t le32At(const std::string& s, std::size_t at)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(s[at + static_cast<std::size_t>(i)]);
    return v;
}

std::uint32_t le16At(const std::string& s, std::size_t at)
{
    return static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8;
}

std::string pcm(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i * 13 % 256);
    return s;
}

// Writes everything, sleeping on the free event whenever the blocks are full.
void writeAll(TSoundOut& out, const std::string& data)
{
    TMPSimpleEvent room;
    std::size_t done = 0;
    while (done < data.size()) {
        done += static_cast<std::size_t>(
            out.Write(data.data() + done, static_cast<std::int32_t>(data.size() - done)));
        if (done < data.size()) {
            room.Reset();
            out.NotifyWhenFree(&room);
            ASSERT_EQ(room.WaitFor(Generous), MPWaitSignaled);
        }
    }
}

TEST(SoundOut, BlocksHoldHalfASecond)
{
    struct Case {
        std::int32_t rate, channels, bits, blockSize;
    };
    const Case cases[] = {{8000, 1, 8, 4000},   {44100, 2, 16, 88200}, {22050, 1, 16, 22052},
                          {11025, 1, 8, 5512},  {48000, 2, 16, 96000}, {32000, 2, 8, 32000}};
    testsupport::TempDir dir;
    for (const Case& c : cases) {
        for (bool toFile : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.rate << " Hz " << c.channels << " ch " << c.bits << " bits, file "
                                            << toFile);
            TSoundOut out;
            out.SetSampleRate(c.rate);
            out.SetChannels(c.channels);
            out.SetBits(c.bits);
            out.SetWaveFileName(toFile ? dir.file("b.wav") : "");
            out.Open();
            EXPECT_EQ(out.BlockSize(), c.blockSize);
            EXPECT_EQ(out.FreePercent(), 100);
            out.Close();
            EXPECT_EQ(out.FreePercent(), 0) << "closed";
        }
    }
}

TEST(SoundOut, WriteTakesWhatFitsUntilBlocksComeBack)
{
    TSoundOut out;
    out.SetSampleRate(8000);
    out.SetChannels(1);
    out.SetBits(8); // blocks of 4000 bytes
    out.Open();
    out.Pause(); // the device holds what it gets
    EXPECT_EQ(out.FreePercent(), 100);
    const std::string data = pcm(17000);
    EXPECT_EQ(out.Write(data.data(), 1000), 1000);
    EXPECT_EQ(out.FreePercent(), 93); // (3 * 4000 + 3000) * 100 / 16000
    EXPECT_EQ(out.Write(data.data(), 17000), 15000);
    EXPECT_EQ(out.Queued(), 4);
    EXPECT_EQ(out.FreePercent(), 0);
    EXPECT_FALSE(out.CanWrite());
    EXPECT_EQ(out.Write(data.data(), 100), 0) << "nothing fits before a block returns";

    TMPSimpleEvent room;
    out.NotifyWhenFree(&room);
    EXPECT_FALSE(room.IsSet());
    out.Reset(); // every held block comes back
    ASSERT_EQ(room.WaitFor(Generous), MPWaitSignaled);
    out.WaitAllDone();
    EXPECT_EQ(out.Queued(), 0);
    EXPECT_EQ(out.FreePercent(), 100);

    room.Reset();
    out.NotifyWhenFree(&room);
    EXPECT_TRUE(room.IsSet()) << "signalled at once when there is room";
    out.Unpause();
    EXPECT_EQ(out.Write(data.data(), 8000), 8000);
    out.Close();
    EXPECT_EQ(out.Queued(), 0);
    EXPECT_FALSE(out.CanWrite());
    EXPECT_EQ(out.Write(data.data(), 10), 0) << "a closed output takes nothing";
}

TEST(SoundOut, ClosingAPausedDeviceReturnsItsBlocks)
{
    TSoundOut out;
    out.Open();
    out.Pause();
    const std::string data = pcm(static_cast<std::size_t>(out.BlockSize()) * 2 + 10);
    EXPECT_EQ(out.Write(data.data(), static_cast<std::int32_t>(data.size())), static_cast<std::int32_t>(data.size()));
    out.Close(); // must not wait for a device that will never play
    EXPECT_FALSE(out.Opened());
    EXPECT_EQ(out.Queued(), 0);
}

TEST(SoundOut, WaveFileHoldsHeaderAndEveryByte)
{
    struct Case {
        std::int32_t rate, channels, bits;
        std::size_t bytes;
    };
    const Case cases[] = {{8000, 1, 8, 0}, {8000, 1, 8, 1}, {8000, 1, 8, 4000}, {8000, 1, 8, 4000 * 9 + 7},
                          {44100, 2, 16, 88200 * 5 + 4}};
    testsupport::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.bytes << " bytes");
        const std::string path = dir.file("out.wav");
        const std::string data = pcm(c.bytes);
        TSoundOut out;
        out.SetSampleRate(c.rate);
        out.SetChannels(c.channels);
        out.SetBits(c.bits);
        out.SetWaveFileName(path);
        out.Open();
        out.SetWaveFileName(dir.file("ignored.wav"));
        EXPECT_EQ(out.WaveFileName(), path) << "the name cannot change while open";
        writeAll(out, data);
        out.Close();

        const std::string file = testsupport::readFile(path);
        ASSERT_EQ(file.size(), 44 + c.bytes);
        EXPECT_EQ(file.substr(0, 4), "RIFF");
        EXPECT_EQ(le32At(file, 4), 36 + c.bytes);
        EXPECT_EQ(file.substr(8, 8), "WAVEfmt ");
        EXPECT_EQ(le32At(file, 16), 16u);
        EXPECT_EQ(le16At(file, 20), 1u);
        EXPECT_EQ(le16At(file, 22), static_cast<std::uint32_t>(c.channels));
        EXPECT_EQ(le32At(file, 24), static_cast<std::uint32_t>(c.rate));
        const std::uint32_t align = static_cast<std::uint32_t>(c.channels * c.bits / 8);
        EXPECT_EQ(le32At(file, 28), static_cast<std::uint32_t>(c.rate) * align);
        EXPECT_EQ(le16At(file, 32), align);
        EXPECT_EQ(le16At(file, 34), static_cast<std::uint32_t>(c.bits));
        EXPECT_EQ(file.substr(36, 4), "data");
        EXPECT_EQ(le32At(file, 40), c.bytes);
        EXPECT_TRUE(file.substr(44) == data) << "the PCM bytes in order";
    }
}

TEST(SoundOut, FlushQueuesOnlyAPartialBlock)
{
    testsupport::TempDir dir;
    const std::string path = dir.file("flush.wav");
    TSoundOut out;
    out.SetWaveFileName(path);
    out.Open();
    out.Flush();
    EXPECT_EQ(out.Queued(), 0) << "nothing to flush";
    EXPECT_EQ(testsupport::readFile(path).size(), 44u);
    const std::string data = pcm(1000);
    ASSERT_EQ(out.Write(data.data(), 1000), 1000);
    out.Flush(); // returns when the output thread has written it
    EXPECT_EQ(testsupport::readFile(path).size(), 1044u);
    EXPECT_EQ(out.FreePercent(), 100);
    out.Close();
    EXPECT_EQ(le32At(testsupport::readFile(path), 40), 1000u);
}

// Collects what the device adapter hands to ALSA.
class SampleTap {
public:
    explicit SampleTap(waveout::WaveOut& wave) : m_wave(wave)
    {
        m_wave.setSampleTap([this](const std::uint8_t* data, std::size_t length) {
            std::lock_guard lock(m_mutex);
            m_bytes.insert(m_bytes.end(), data, data + length);
        });
    }
    ~SampleTap() { m_wave.setSampleTap(nullptr); }
    std::string bytes()
    {
        std::lock_guard lock(m_mutex);
        std::string b(m_bytes.begin(), m_bytes.end());
        m_bytes.clear();
        return b;
    }
    std::vector<std::int16_t> samples()
    {
        const std::string b = bytes();
        std::vector<std::int16_t> s(b.size() / 2);
        if (!s.empty())
            std::memcpy(s.data(), b.data(), s.size() * 2);
        return s;
    }

private:
    waveout::WaveOut& m_wave;
    std::mutex m_mutex;
    std::vector<std::uint8_t> m_bytes;
};

TEST(SoundOut, DeviceGetsEveryBlockInOrder)
{
    waveout::AlsaWaveOut alsa;
    SampleTap tap(alsa);
    TSoundOut out(alsa);
    out.SetSampleRate(8000);
    out.SetChannels(1);
    out.SetBits(8);
    out.Open();
    const std::string data = pcm(4000 * 25 + 123);
    writeAll(out, data);
    out.Flush();
    out.WaitAllDone();
    EXPECT_EQ(out.Queued(), 0) << "each block came back exactly once";
    EXPECT_EQ(out.FreePercent(), 100);
    out.Close();
    const std::string played = tap.bytes();
    EXPECT_EQ(played.size(), data.size());
    EXPECT_TRUE(played == data) << "bytes lost or out of order";
}

TEST(SoundOut, EveryByteReachesALSA)
{
    // ALSA's "file" plug-in writes what it is given to a file and plays it
    // on "null".
    testsupport::TempDir dir;
    const std::string path = dir.file("alsa.raw");
    waveout::AlsaWaveOut alsa("file:FILE='" + path + "',FORMAT=raw");
    TSoundOut out(alsa);
    out.SetSampleRate(8000);
    out.SetChannels(1);
    out.SetBits(8);
    out.Open();
    const std::string data = pcm(4000 * 9 + 321);
    writeAll(out, data);
    out.Close();
    const std::string played = testsupport::readFile(path);
    EXPECT_EQ(played.size(), data.size());
    EXPECT_TRUE(played == data) << "bytes lost or out of order";
}

TEST(SoundOut, VolumeAndBalanceReachTheSamples)
{
    struct Case {
        std::int32_t volume, balance;
        std::int16_t left, right;
    };
    const Case cases[] = {{100, 0, 1000, -1000}, {100, -100, 1000, 0}, {100, 100, 0, -1000},
                          {100, -50, 1000, -500}, {50, 0, 500, -500},  {0, 0, 0, 0}};
    waveout::AlsaWaveOut alsa;
    SampleTap tap(alsa);
    TSoundOut out(alsa); // 44100 Hz, 2 channels, 16 bits
    out.Open();
    std::vector<std::int16_t> frames(static_cast<std::size_t>(out.BlockSize()) / 2);
    for (std::size_t i = 0; i < frames.size(); ++i)
        frames[i] = i % 2 ? -1000 : 1000;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "volume " << c.volume << " balance " << c.balance);
        out.SetVolume(c.volume);
        out.SetBalance(c.balance);
        tap.samples();
        ASSERT_EQ(out.Write(frames.data(), out.BlockSize()), out.BlockSize());
        out.WaitAllDone();
        const auto samples = tap.samples();
        ASSERT_EQ(samples.size(), frames.size());
        for (std::size_t i = 0; i < samples.size(); i += 2) {
            ASSERT_NEAR(samples[i], c.left, 1) << "left sample " << i;
            ASSERT_NEAR(samples[i + 1], c.right, 1) << "right sample " << i;
        }
    }
    out.SetVolume(100);
    out.SetBalance(0);
    out.Close();
}

TEST(SoundOut, SettersIgnoreValuesOutOfRange)
{
    TSoundOut out;
    out.SetVolume(40);
    out.SetBalance(-30);
    const std::pair<const char*, std::function<void()>> ignored[] = {
        {"volume 101", [&] { out.SetVolume(101); }},     {"volume -1", [&] { out.SetVolume(-1); }},
        {"balance 101", [&] { out.SetBalance(101); }},   {"balance -101", [&] { out.SetBalance(-101); }},
        {"24 bits", [&] { out.SetBits(24); }},           {"0 bits", [&] { out.SetBits(0); }},
        {"3 channels", [&] { out.SetChannels(3); }},     {"0 channels", [&] { out.SetChannels(0); }},
        {"rate 0", [&] { out.SetSampleRate(0); }},       {"rate -8000", [&] { out.SetSampleRate(-8000); }},
    };
    for (const auto& [name, set] : ignored) {
        SCOPED_TRACE(name);
        set();
        EXPECT_EQ(out.Volume(), 40);
        EXPECT_EQ(out.Balance(), -30);
        EXPECT_EQ(out.Bits(), 16);
        EXPECT_EQ(out.Channels(), 2);
        EXPECT_EQ(out.SampleRate(), 44100);
    }
    out.SetVolume(100);
    out.SetBalance(100);
    out.SetBits(8);
    out.SetChannels(1);
    out.SetSampleRate(8000);
    EXPECT_EQ(out.Volume(), 100);
    EXPECT_EQ(out.Balance(), 100);
    EXPECT_EQ(out.Bits(), 8);
    EXPECT_EQ(out.Channels(), 1);
    EXPECT_EQ(out.SampleRate(), 8000);
}

TEST(SoundOut, DeviceErrorsNameTheFailingStep)
{
    struct Case {
        const char* name;
        const char* device;
        std::int32_t deviceId;
        const char* waveFile;
        const char* label;
    };
    const Case cases[] = {
        {"unknown ALSA device", "morvik_no_such_device", -1, "", "(TSoundOut.Open:WaveOutOpen)"},
        {"unknown device number", "null", 7, "", "(TSoundOut.Open:WaveOutOpen)"},
        {"wave file that cannot be created", "null", -1, "/nonexistent-folder/x.wav",
         "(TSoundOut.Open:CreateWaveFile)"},
        {"wave file that cannot be written", "null", -1, "/dev/full", "(TSoundOut.Open:CreateWaveFile)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setenv("MORVIK_ALSA_DEVICE", c.device, 1);
        TSoundOut out;
        out.DeviceId = c.deviceId;
        out.SetWaveFileName(c.waveFile);
        try {
            out.Open();
            ADD_FAILURE() << "opened";
        } catch (const EMPError& e) {
            const std::string text = e.what();
            const std::string label = c.label;
            ASSERT_GT(text.size(), label.size());
            EXPECT_EQ(text.substr(text.size() - label.size()), label) << text;
            EXPECT_NE(text[0], '(') << "the system's text comes first: " << text;
        }
        EXPECT_FALSE(out.Opened()) << "a failed Open closes again";
        setenv("MORVIK_ALSA_DEVICE", "null", 1);
        out.DeviceId = -1;
        out.SetWaveFileName("");
        EXPECT_NO_THROW(out.Open());
        out.Close();
    }
}

TEST(SoundOut, PositionIsReportedWhileBlocksAreQueued)
{
    TSoundOut out;
    TMPSimpleEvent twice;
    std::atomic<int> calls{0};
    out.SetOnPosition([&](TSoundOut* sender) {
        EXPECT_EQ(sender, &out);
        if (++calls == 2)
            twice.Signal();
    });
    out.NotifyInterval = 50;
    out.Open();
    out.Pause(); // a queued block keeps the position timer running
    const std::string data = pcm(static_cast<std::size_t>(out.BlockSize()));
    ASSERT_EQ(out.Write(data.data(), out.BlockSize()), out.BlockSize());
    ASSERT_EQ(twice.WaitFor(Generous), MPWaitSignaled);
    out.SetOnPosition(nullptr);
    out.Close();
    EXPECT_GE(calls.load(), 2);
}

TEST(SoundOut, OutputThreadExceptionsGoToOnException)
{
    TSoundOut out;
    TMPSimpleEvent offered;
    std::string text;
    out.SetOnPosition([](TSoundOut*) { throw std::runtime_error("position failed"); });
    out.SetOnException([&](TSoundOut* sender, const std::exception& e, bool& handled) {
        EXPECT_EQ(sender, &out);
        text = e.what();
        handled = true;
        out.SetOnPosition(nullptr);
        offered.Signal();
    });
    out.NotifyInterval = 20;
    out.Open();
    out.Pause();
    const std::string data = pcm(static_cast<std::size_t>(out.BlockSize()));
    ASSERT_EQ(out.Write(data.data(), out.BlockSize()), out.BlockSize());
    ASSERT_EQ(offered.WaitFor(Generous), MPWaitSignaled);
    out.Close();
    EXPECT_EQ(text, "position failed");
}

TEST(SoundOut, ErrorTextOfTheAdapter)
{
    char text[128];
    EXPECT_EQ(waveout::waveOutGetErrorText(waveout::WAVERR_BADFORMAT, text, sizeof text), waveout::MMSYSERR_NOERROR);
    EXPECT_GT(std::strlen(text), 0u);
    EXPECT_NE(waveout::waveOutGetErrorText(12345, text, sizeof text), waveout::MMSYSERR_NOERROR);
    char tiny[5];
    EXPECT_EQ(waveout::waveOutGetErrorText(waveout::MMSYSERR_BADDEVICEID, tiny, sizeof tiny), waveout::MMSYSERR_NOERROR);
    EXPECT_EQ(std::strlen(tiny), 4u) << "cut to the buffer";
}

// 8000 Hz, mono, 8 bits: blocks of 4000 bytes.
void smallBlocks(TSoundOut& out)
{
    out.SetSampleRate(8000);
    out.SetChannels(1);
    out.SetBits(8);
}

TEST(SoundOut, HeldBlocksComeBackOnlyWhenReleasedAndPlaying)
{
    waveout::FakeWaveOut fake;
    TSoundOut out(fake);
    smallBlocks(out);
    out.Open();
    const std::string data = pcm(16000);
    ASSERT_EQ(out.Write(data.data(), 16000), 16000);
    EXPECT_EQ(fake.queuedBlocks(), 4u);
    EXPECT_EQ(out.Queued(), 4);
    EXPECT_FALSE(out.CanWrite());
    EXPECT_EQ(out.FreePercent(), 0);
    TMPSimpleEvent room;
    out.NotifyWhenFree(&room);
    out.Thread().Sync();
    EXPECT_FALSE(room.IsSet()) << "held blocks free nothing";

    ASSERT_TRUE(fake.releaseBlock());
    ASSERT_EQ(room.WaitFor(Generous), MPWaitSignaled) << "a returned block wakes the writer";
    EXPECT_EQ(out.Queued(), 3);
    EXPECT_TRUE(out.CanWrite());
    EXPECT_EQ(out.FreePercent(), 25);

    out.Pause();
    EXPECT_TRUE(fake.paused());
    ASSERT_TRUE(fake.releaseBlock());
    out.Thread().Sync();
    EXPECT_EQ(out.Queued(), 3) << "a paused device returns nothing";
    out.Unpause();
    out.Thread().Sync();
    EXPECT_EQ(out.Queued(), 2) << "the released block comes back once playing again";
    EXPECT_EQ(fake.completedBlocks(), 2u);

    ASSERT_EQ(out.Write(data.data(), 100), 100); // a block partly filled
    out.Reset();
    out.WaitAllDone();
    EXPECT_EQ(out.Queued(), 0);
    EXPECT_EQ(fake.queuedBlocks(), 0u) << "reset returns the held blocks";
    EXPECT_EQ(out.FreePercent(), 100) << "and empties the one being filled";
    const auto written = fake.writtenBlocks();
    ASSERT_EQ(written.size(), 4u) << "the partial block never reached the device";
    for (std::size_t i = 0; i < written.size(); ++i)
        EXPECT_TRUE(std::string(written[i].begin(), written[i].end()) == data.substr(i * 4000, 4000)) << i;
    out.Close();
    EXPECT_FALSE(fake.playing());
}

TEST(SoundOut, CloseWaitsUntilEveryBlockHasPlayed)
{
    waveout::FakeWaveOut fake;
    TSoundOut out(fake);
    smallBlocks(out);
    out.Open();
    const std::string data = pcm(4000 * 2 + 500);
    ASSERT_EQ(out.Write(data.data(), static_cast<std::int32_t>(data.size())), static_cast<std::int32_t>(data.size()));
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        out.Close();
        closed = true;
    });
    // Close first queues the partial block.
    for (int i = 0; i < 2000 && fake.queuedBlocks() < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(fake.queuedBlocks(), 3u);
    for (int i = 0; i < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_FALSE(closed) << "closed with " << 3 - i << " blocks still playing";
        ASSERT_TRUE(fake.releaseBlock());
    }
    closer.join();
    EXPECT_TRUE(closed);
    EXPECT_FALSE(fake.playing());
    const auto written = fake.writtenBlocks();
    ASSERT_EQ(written.size(), 3u);
    EXPECT_EQ(written[2].size(), 500u);
}

TEST(SoundOut, WaveErrorsNameTheFailingCall)
{
    using Call = waveout::FakeWaveOut::Call;
    struct Case {
        Call call;
        waveout::MMRESULT result;
        const char* label; // empty: the error is ignored
    };
    const Case cases[] = {
        {Call::Open, waveout::MMSYSERR_ALLOCATED, "(TSoundOut.Open:WaveOutOpen)"},
        {Call::SetVolume, waveout::MMSYSERR_ERROR, "(TSoundOut.SetVolumeToWaveDevice)"},
        {Call::SetVolume, waveout::MMSYSERR_NOTSUPPORTED, ""},
        {Call::Write, waveout::MMSYSERR_NOMEM, "(TSoundOut.WaveWrite)"},
        {Call::Pause, waveout::MMSYSERR_ERROR, "(TSoundOut.Pause)"},
        {Call::Restart, waveout::MMSYSERR_ERROR, "(TSoundOut.Unpause)"},
        {Call::Reset, waveout::MMSYSERR_ERROR, "(TSoundOut.Reset)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        waveout::FakeWaveOut fake;
        TSoundOut out(fake);
        smallBlocks(out);
        if (c.call != Call::Open && c.call != Call::SetVolume)
            out.Open();
        fake.failNext(c.call, c.result);
        const std::string data = pcm(4000);
        std::string text;
        try {
            switch (c.call) {
            case Call::Open: out.Open(); break;
            case Call::SetVolume: out.Open(); break;
            case Call::Write: out.Write(data.data(), 4000); break;
            case Call::Pause: out.Pause(); break;
            case Call::Restart: out.Unpause(); break;
            default: out.Reset(); break;
            }
        } catch (const EMPError& e) {
            text = e.what();
        }
        const std::string label = c.label;
        if (label.empty()) {
            EXPECT_EQ(text, "");
        } else {
            ASSERT_GT(text.size(), label.size());
            EXPECT_EQ(text.substr(text.size() - label.size()), label) << text;
        }
        EXPECT_EQ(out.Queued(), 0) << "a block the device refused is not counted";
        EXPECT_EQ(out.Opened(), c.call != Call::Open && !(c.call == Call::SetVolume && !label.empty()))
            << "only a failed Open closes again";
        out.Close();
        EXPECT_FALSE(fake.playing());
    }
}

TEST(SoundOut, VolumeIsReadFromTheDeviceAtConstruction)
{
    waveout::FakeWaveOut fake;
    {
        TSoundOut first(fake);
        EXPECT_EQ(first.Volume(), 100);
        first.Open();
        first.SetVolume(40);
        first.SetBalance(50); // the left channel at half, the right at 40
        first.Close();
    }
    TSoundOut second(fake);
    EXPECT_EQ(second.Volume(), 40) << "the louder channel of the device's setting";
}

} // namespace
