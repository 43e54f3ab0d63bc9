// The promises of the wave output, checked on both implementations (ALSA's
// "null" device and the fake): argument and header-flag answers, blocks
// coming back once each in order, reset returning every queued block, the
// volume outliving its handles; and what the fake adds for tests: blocks
// held until released, releases waiting out a pause, failures on demand.
#include "platform/waveout.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/waveoutalsa.h"
#include "platform/waveoutfake.h"

using namespace morvik::waveout;

namespace {

// Collects the blocks a device reports done.
class Completions {
public:
    WaveOutDoneCallback callback()
    {
        return [this](WAVEHDR* header) {
            {
                std::lock_guard lock(m_mutex);
                m_done.push_back(header);
            }
            m_changed.notify_all();
        };
    }
    // Waits until `count` blocks are done or the time has passed.
    std::vector<WAVEHDR*> waitFor(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(20))
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, limit, [&] { return m_done.size() >= count; });
        return m_done;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<WAVEHDR*> m_done;
};

struct Implementation {
    const char* name;
    std::function<std::unique_ptr<WaveOut>()> make;
    std::function<void(WaveOut&)> letPlay; // lets every queued block finish
};

const Implementation implementations[] = {
    {"ALSA null", [] { return std::make_unique<AlsaWaveOut>("null"); }, [](WaveOut&) {}},
    {"fake", [] { return std::make_unique<FakeWaveOut>(); },
     [](WaveOut& wave) {
         while (static_cast<FakeWaveOut&>(wave).releaseBlock()) {
         }
     }},
};

WAVEFORMATEX mono8k()
{
    WAVEFORMATEX f;
    f.nChannels = 1;
    f.nSamplesPerSec = 8000;
    f.nBlockAlign = 1;
    f.nAvgBytesPerSec = 8000;
    f.wBitsPerSample = 8;
    return f;
}

// Blocks of 800 bytes (a tenth of a second) with distinct contents.
struct Blocks {
    explicit Blocks(std::size_t count) : data(count, std::vector<std::uint8_t>(800)), headers(count)
    {
        for (std::size_t i = 0; i < count; ++i) {
            for (std::size_t j = 0; j < 800; ++j)
                data[i][j] = static_cast<std::uint8_t>(i * 31 + j);
            headers[i].lpData = data[i].data();
            headers[i].dwBufferLength = 800;
        }
    }
    std::vector<std::vector<std::uint8_t>> data;
    std::vector<WAVEHDR> headers;
};

TEST(WaveOut, ArgumentsAndHeaderFlags)
{
    for (const Implementation& impl : implementations) {
        SCOPED_TRACE(impl.name);
        auto wave = impl.make();
        auto other = impl.make();
        Completions done;
        HWAVEOUT device = nullptr;
        WAVEFORMATEX bad = mono8k();
        bad.wBitsPerSample = 24;
        EXPECT_EQ(wave->open(nullptr, -1, mono8k(), done.callback()), MMSYSERR_INVALPARAM);
        EXPECT_EQ(wave->open(&device, 1, mono8k(), done.callback()), MMSYSERR_BADDEVICEID);
        EXPECT_EQ(wave->open(&device, 0, bad, done.callback()), WAVERR_BADFORMAT);
        EXPECT_EQ(device, nullptr);

        HWAVEOUT quiet = nullptr; // without a callback: volume only
        ASSERT_EQ(wave->open(&quiet, -1, mono8k(), {}), MMSYSERR_NOERROR);
        Blocks blocks(2);
        EXPECT_EQ(wave->prepareHeader(quiet, &blocks.headers[0]), MMSYSERR_NOERROR);
        EXPECT_EQ(wave->write(quiet, &blocks.headers[0]), MMSYSERR_NOTSUPPORTED);
        EXPECT_EQ(wave->close(quiet), MMSYSERR_NOERROR);

        ASSERT_EQ(wave->open(&device, 0, mono8k(), done.callback()), MMSYSERR_NOERROR);
        EXPECT_EQ(other->pause(device), MMSYSERR_INVALHANDLE) << "a handle of another output";
        EXPECT_EQ(wave->write(device, &blocks.headers[1]), WAVERR_UNPREPARED);
        EXPECT_EQ(wave->prepareHeader(device, nullptr), MMSYSERR_INVALPARAM);
        EXPECT_EQ(wave->pause(device), MMSYSERR_NOERROR);
        EXPECT_EQ(wave->prepareHeader(device, &blocks.headers[1]), MMSYSERR_NOERROR);
        EXPECT_TRUE(blocks.headers[1].dwFlags & WHDR_PREPARED);
        EXPECT_EQ(wave->write(device, &blocks.headers[1]), MMSYSERR_NOERROR);
        EXPECT_TRUE(blocks.headers[1].dwFlags & WHDR_INQUEUE);
        EXPECT_EQ(wave->write(device, &blocks.headers[1]), WAVERR_STILLPLAYING) << "queued twice";
        EXPECT_EQ(wave->unprepareHeader(device, &blocks.headers[1]), WAVERR_STILLPLAYING);
        EXPECT_EQ(wave->close(device), WAVERR_STILLPLAYING);
        EXPECT_EQ(wave->reset(device), MMSYSERR_NOERROR);
        EXPECT_EQ(done.waitFor(1).size(), 1u);
        EXPECT_EQ(blocks.headers[1].dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
        EXPECT_EQ(wave->unprepareHeader(device, &blocks.headers[1]), MMSYSERR_NOERROR);
        EXPECT_FALSE(blocks.headers[1].dwFlags & WHDR_PREPARED);
        EXPECT_EQ(wave->close(device), MMSYSERR_NOERROR);
    }
}

TEST(WaveOut, BlocksComeBackOnceEachInOrder)
{
    for (const Implementation& impl : implementations) {
        for (bool reset : {false, true}) {
            SCOPED_TRACE(testing::Message() << impl.name << (reset ? ", reset while paused" : ", played"));
            auto wave = impl.make();
            Completions done;
            HWAVEOUT device = nullptr;
            ASSERT_EQ(wave->open(&device, -1, mono8k(), done.callback()), MMSYSERR_NOERROR);
            if (reset)
                wave->pause(device);
            Blocks blocks(5);
            for (WAVEHDR& header : blocks.headers) {
                wave->prepareHeader(device, &header);
                ASSERT_EQ(wave->write(device, &header), MMSYSERR_NOERROR);
            }
            if (reset)
                EXPECT_EQ(wave->reset(device), MMSYSERR_NOERROR);
            else
                impl.letPlay(*wave);
            const auto returned = done.waitFor(5);
            ASSERT_EQ(returned.size(), 5u);
            for (std::size_t i = 0; i < 5; ++i)
                EXPECT_EQ(returned[i], &blocks.headers[i]) << "block " << i;
            EXPECT_EQ(done.waitFor(6, std::chrono::milliseconds(100)).size(), 5u) << "no block twice";
            EXPECT_EQ(wave->close(device), MMSYSERR_NOERROR);
        }
    }
}

TEST(WaveOut, VolumeOutlivesItsHandles)
{
    for (const Implementation& impl : implementations) {
        SCOPED_TRACE(impl.name);
        auto wave = impl.make();
        HWAVEOUT device = nullptr;
        ASSERT_EQ(wave->open(&device, -1, mono8k(), {}), MMSYSERR_NOERROR);
        std::uint32_t volume = 0;
        EXPECT_EQ(wave->getVolume(device, &volume), MMSYSERR_NOERROR);
        EXPECT_EQ(volume, FullVolume);
        EXPECT_EQ(wave->setVolume(device, 0x40002000u), MMSYSERR_NOERROR);
        EXPECT_EQ(wave->getVolume(device, nullptr), MMSYSERR_INVALPARAM);
        wave->close(device);
        ASSERT_EQ(wave->open(&device, 0, mono8k(), {}), MMSYSERR_NOERROR);
        EXPECT_EQ(wave->getVolume(device, &volume), MMSYSERR_NOERROR);
        EXPECT_EQ(volume, 0x40002000u);
        wave->close(device);
        EXPECT_EQ(impl.make()->getNumDevs(), 1u);
    }
}

TEST(FakeWaveOut, HoldsBlocksUntilReleasedAndPlayingResumes)
{
    FakeWaveOut fake;
    Completions done;
    std::vector<std::uint8_t> tapped;
    fake.setSampleTap([&](const std::uint8_t* data, std::size_t length) { tapped.assign(data, data + length); });
    HWAVEOUT device = nullptr;
    ASSERT_EQ(fake.open(&device, -1, mono8k(), done.callback()), MMSYSERR_NOERROR);
    HWAVEOUT second = nullptr;
    EXPECT_EQ(fake.open(&second, -1, mono8k(), done.callback()), MMSYSERR_ALLOCATED) << "one playing device";
    EXPECT_FALSE(fake.releaseBlock()) << "nothing queued";
    Blocks blocks(3);
    for (WAVEHDR& header : blocks.headers) {
        fake.prepareHeader(device, &header);
        fake.write(device, &header);
    }
    EXPECT_EQ(fake.queuedBlocks(), 3u);
    ASSERT_EQ(fake.writtenBlocks().size(), 3u);
    EXPECT_EQ(fake.writtenBlocks()[2], blocks.data[2]);

    EXPECT_TRUE(fake.releaseBlock());
    EXPECT_EQ(done.waitFor(1).size(), 1u) << "reported inside releaseBlock";
    EXPECT_EQ(tapped, blocks.data[0]) << "the tap sees the played block";

    fake.pause(device);
    EXPECT_TRUE(fake.paused());
    EXPECT_TRUE(fake.releaseBlock());
    EXPECT_EQ(fake.completedBlocks(), 1u) << "a paused device plays nothing";
    fake.setVolume(device, 0x00008000u); // half left; the block plays after this
    fake.restart(device);
    EXPECT_EQ(fake.completedBlocks(), 2u) << "the release takes effect at restart";
    ASSERT_EQ(tapped.size(), 800u);
    EXPECT_EQ(tapped[0], static_cast<std::uint8_t>((31 - 128) * 0x8000 / 65535 + 128));

    tapped.clear();
    EXPECT_TRUE(fake.releaseBlock());
    EXPECT_FALSE(fake.releaseBlock()) << "every queued block is released";
    EXPECT_EQ(fake.queuedBlocks(), 0u);
    EXPECT_EQ(fake.close(device), MMSYSERR_NOERROR);
    EXPECT_FALSE(fake.playing());
    EXPECT_EQ(fake.pause(device), MMSYSERR_INVALHANDLE) << "a closed handle";
}

TEST(FakeWaveOut, FailsTheNextCallOfAKind)
{
    FakeWaveOut fake;
    Completions done;
    HWAVEOUT device = nullptr;
    fake.failNext(FakeWaveOut::Call::Open, MMSYSERR_ALLOCATED);
    EXPECT_EQ(fake.open(&device, -1, mono8k(), done.callback()), MMSYSERR_ALLOCATED);
    ASSERT_EQ(fake.open(&device, -1, mono8k(), done.callback()), MMSYSERR_NOERROR) << "only the next one";
    Blocks blocks(1);
    fake.prepareHeader(device, &blocks.headers[0]);
    fake.failNext(FakeWaveOut::Call::Write, MMSYSERR_NOMEM);
    EXPECT_EQ(fake.write(device, &blocks.headers[0]), MMSYSERR_NOMEM);
    EXPECT_EQ(blocks.headers[0].dwFlags & WHDR_INQUEUE, 0u) << "a failed write queues nothing";
    EXPECT_EQ(fake.queuedBlocks(), 0u);
    EXPECT_EQ(fake.close(device), MMSYSERR_NOERROR);
}

} // namespace
