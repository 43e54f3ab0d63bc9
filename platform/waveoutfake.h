// A wave output for tests that plays nothing and lets the test decide when
// each block is done: a written block stays queued until the test releases
// it, so the races of pause, stop and drain can be set up one step at a
// time. It keeps the promises of every WaveOut (waveout.h): completions in
// queue order, none while paused, reset returning every queued block, the
// volume outliving the handles. It records each block written with its
// bytes, and its sample tap sees a block when it is done (not when reset),
// volume and balance applied at that moment.
//
// One playing device at a time (a second open with a callback answers
// MMSYSERR_ALLOCATED); devices opened without a callback only answer volume
// queries. Completions are reported on the thread that lets them happen:
// inside releaseBlock, restart or reset. The done callback must not call
// releaseBlock, restart or reset itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/waveout.h"

namespace morvik::waveout {

class FakeWaveOut final : public WaveOut {
public:
    // The calls a test can make fail.
    enum class Call { Open, Write, Pause, Restart, Reset, Close, SetVolume };

    FakeWaveOut();
    ~FakeWaveOut() override;
    FakeWaveOut(const FakeWaveOut&) = delete;
    FakeWaveOut& operator=(const FakeWaveOut&) = delete;

    std::uint32_t getNumDevs() override;
    MMRESULT open(HWAVEOUT* device, int deviceId, const WAVEFORMATEX& format, WaveOutDoneCallback done) override;
    MMRESULT prepareHeader(HWAVEOUT device, WAVEHDR* header) override;
    MMRESULT unprepareHeader(HWAVEOUT device, WAVEHDR* header) override;
    MMRESULT write(HWAVEOUT device, WAVEHDR* header) override;
    MMRESULT pause(HWAVEOUT device) override;
    MMRESULT restart(HWAVEOUT device) override;
    MMRESULT reset(HWAVEOUT device) override;
    MMRESULT close(HWAVEOUT device) override;
    MMRESULT setVolume(HWAVEOUT device, std::uint32_t volume) override;
    MMRESULT getVolume(HWAVEOUT device, std::uint32_t* volume) override;
    void setSampleTap(SampleTap tap) override;

    // Lets the oldest queued block not yet released finish. It comes back at
    // once, or, while the device is paused, at restart. False when every
    // queued block has been released already (or none is queued).
    bool releaseBlock();
    // Blocks written and not yet returned, released or not.
    std::size_t queuedBlocks() const;
    // Every block written so far, in order, with its bytes as written.
    std::vector<std::vector<std::uint8_t>> writtenBlocks() const;
    // Blocks reported done so far (played or returned by reset).
    std::size_t completedBlocks() const;
    bool paused() const;
    // Whether a playing device is open.
    bool playing() const;
    // The next call of this kind answers `result` and does nothing else.
    void failNext(Call call, MMRESULT result);

private:
    struct Device;

    Device* deviceOf(HWAVEOUT handle) const;
    bool takeFailure(Call call, MMRESULT* result);
    void deliverReleased();
    void report(const std::vector<WAVEHDR*>& headers, const WaveOutDoneCallback& done);

    mutable std::mutex m_mutex; // everything below
    std::vector<std::unique_ptr<Device>> m_open;
    Device* m_playing = nullptr;
    WAVEFORMATEX m_format;
    WaveOutDoneCallback m_done;
    std::deque<WAVEHDR*> m_queue;
    std::size_t m_released = 0; // of the blocks at the front of m_queue
    bool m_paused = false;
    std::uint32_t m_volume = FullVolume;
    std::vector<std::vector<std::uint8_t>> m_written;
    std::size_t m_completed = 0;
    std::map<Call, MMRESULT> m_failures;
    SampleTap m_tap;

    std::mutex m_doneMutex; // keeps completions in queue order
};

} // namespace morvik::waveout
