#include "platform/waveoutfake.h"

#include <algorithm>
#include <memory>

namespace morvik::waveout {

struct FakeWaveOut::Device final : WaveOutDevice {
    Device(const WaveOut* opener, bool plays) : WaveOutDevice(opener), playing(plays) {}
    const bool playing;
};

FakeWaveOut::FakeWaveOut() = default;
FakeWaveOut::~FakeWaveOut() = default;

// Only a device of this fake that is still open counts: a closed or foreign
// handle is recognised instead of used.
FakeWaveOut::Device* FakeWaveOut::deviceOf(HWAVEOUT handle) const
{
    for (const auto& device : m_open) {
        if (device.get() == handle)
            return device.get();
    }
    return nullptr;
}

bool FakeWaveOut::takeFailure(Call call, MMRESULT* result)
{
    const auto found = m_failures.find(call);
    if (found == m_failures.end())
        return false;
    *result = found->second;
    m_failures.erase(found);
    return true;
}

std::uint32_t FakeWaveOut::getNumDevs() { return 1; }

MMRESULT FakeWaveOut::open(HWAVEOUT* device, int deviceId, const WAVEFORMATEX& format, WaveOutDoneCallback done)
{
    if (const MMRESULT checked = checkOpenArguments(device, deviceId, format); checked != MMSYSERR_NOERROR)
        return checked;
    std::lock_guard lock(m_mutex);
    MMRESULT failure = MMSYSERR_NOERROR;
    if (takeFailure(Call::Open, &failure))
        return failure;
    const bool plays = static_cast<bool>(done);
    if (plays && m_playing)
        return MMSYSERR_ALLOCATED;
    auto opened = std::make_unique<Device>(this, plays);
    if (plays) {
        m_playing = opened.get();
        m_format = format;
        m_done = std::move(done);
        m_paused = false;
    }
    *device = opened.get();
    m_open.push_back(std::move(opened));
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveOut::prepareHeader(HWAVEOUT handle, WAVEHDR* header)
{
    std::lock_guard lock(m_mutex);
    if (!deviceOf(handle) || !header)
        return !deviceOf(handle) ? MMSYSERR_INVALHANDLE : MMSYSERR_INVALPARAM;
    markPrepared(header);
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveOut::unprepareHeader(HWAVEOUT handle, WAVEHDR* header)
{
    std::lock_guard lock(m_mutex);
    if (!deviceOf(handle) || !header)
        return !deviceOf(handle) ? MMSYSERR_INVALHANDLE : MMSYSERR_INVALPARAM;
    return markUnprepared(header);
}

MMRESULT FakeWaveOut::write(HWAVEOUT handle, WAVEHDR* header)
{
    std::lock_guard lock(m_mutex);
    Device* device = deviceOf(handle);
    if (!device || !header)
        return !device ? MMSYSERR_INVALHANDLE : MMSYSERR_INVALPARAM;
    if (!device->playing)
        return MMSYSERR_NOTSUPPORTED;
    MMRESULT failure = MMSYSERR_NOERROR;
    if (takeFailure(Call::Write, &failure))
        return failure;
    if (const MMRESULT queued = markQueued(header); queued != MMSYSERR_NOERROR)
        return queued;
    m_queue.push_back(header);
    m_written.emplace_back(header->lpData, header->lpData + header->dwBufferLength);
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveOut::pause(HWAVEOUT handle)
{
    std::lock_guard lock(m_mutex);
    Device* device = deviceOf(handle);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    MMRESULT failure = MMSYSERR_NOERROR;
    if (takeFailure(Call::Pause, &failure))
        return failure;
    if (device->playing)
        m_paused = true;
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveOut::restart(HWAVEOUT handle)
{
    {
        std::lock_guard lock(m_mutex);
        Device* device = deviceOf(handle);
        if (!device)
            return MMSYSERR_INVALHANDLE;
        MMRESULT failure = MMSYSERR_NOERROR;
        if (takeFailure(Call::Restart, &failure))
            return failure;
        if (!device->playing)
            return MMSYSERR_NOERROR;
        m_paused = false;
    }
    deliverReleased(); // what was released while paused plays now
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveOut::reset(HWAVEOUT handle)
{
    std::lock_guard order(m_doneMutex);
    std::vector<WAVEHDR*> returned;
    WaveOutDoneCallback done;
    {
        std::lock_guard lock(m_mutex);
        if (!deviceOf(handle))
            return MMSYSERR_INVALHANDLE;
        MMRESULT failure = MMSYSERR_NOERROR;
        if (takeFailure(Call::Reset, &failure))
            return failure;
        returned.assign(m_queue.begin(), m_queue.end());
        m_queue.clear();
        m_released = 0;
        for (WAVEHDR* header : returned)
            markDone(header);
        m_completed += returned.size();
        done = m_done;
    }
    if (done) {
        for (WAVEHDR* header : returned)
            done(header);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveOut::close(HWAVEOUT handle)
{
    std::lock_guard lock(m_mutex);
    Device* device = deviceOf(handle);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    MMRESULT failure = MMSYSERR_NOERROR;
    if (takeFailure(Call::Close, &failure))
        return failure;
    if (device->playing && !m_queue.empty())
        return WAVERR_STILLPLAYING;
    if (device->playing) {
        m_playing = nullptr;
        m_done = {};
        m_paused = false;
    }
    std::erase_if(m_open, [device](const auto& open) { return open.get() == device; });
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveOut::setVolume(HWAVEOUT handle, std::uint32_t volume)
{
    std::lock_guard lock(m_mutex);
    if (!deviceOf(handle))
        return MMSYSERR_INVALHANDLE;
    MMRESULT failure = MMSYSERR_NOERROR;
    if (takeFailure(Call::SetVolume, &failure))
        return failure;
    m_volume = volume;
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveOut::getVolume(HWAVEOUT handle, std::uint32_t* volume)
{
    std::lock_guard lock(m_mutex);
    if (!deviceOf(handle))
        return MMSYSERR_INVALHANDLE;
    if (!volume)
        return MMSYSERR_INVALPARAM;
    *volume = m_volume;
    return MMSYSERR_NOERROR;
}

void FakeWaveOut::setSampleTap(SampleTap tap)
{
    std::lock_guard lock(m_mutex);
    m_tap = std::move(tap);
}

bool FakeWaveOut::releaseBlock()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_released >= m_queue.size())
            return false;
        ++m_released;
    }
    deliverReleased();
    return true;
}

// Reports the released blocks at the front of the queue, unless paused.
void FakeWaveOut::deliverReleased()
{
    std::lock_guard order(m_doneMutex);
    for (;;) {
        WAVEHDR* header = nullptr;
        WaveOutDoneCallback done;
        SampleTap tap;
        WAVEFORMATEX format;
        std::uint32_t volume = FullVolume;
        {
            std::lock_guard lock(m_mutex);
            if (m_paused || m_released == 0 || m_queue.empty())
                return;
            header = m_queue.front();
            m_queue.pop_front();
            --m_released;
            ++m_completed;
            done = m_done;
            tap = m_tap;
            format = m_format;
            volume = m_volume;
        }
        // The block's bytes stay the caller's until the callback has run.
        if (tap) {
            std::vector<std::uint8_t> played(header->dwBufferLength);
            applyVolume(format, header->lpData, played.data(), played.size(), volume);
            tap(played.data(), played.size());
        }
        {
            std::lock_guard lock(m_mutex);
            markDone(header);
        }
        if (done)
            done(header);
    }
}

std::size_t FakeWaveOut::queuedBlocks() const
{
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

std::vector<std::vector<std::uint8_t>> FakeWaveOut::writtenBlocks() const
{
    std::lock_guard lock(m_mutex);
    return m_written;
}

std::size_t FakeWaveOut::completedBlocks() const
{
    std::lock_guard lock(m_mutex);
    return m_completed;
}

bool FakeWaveOut::paused() const
{
    std::lock_guard lock(m_mutex);
    return m_paused;
}

bool FakeWaveOut::playing() const
{
    std::lock_guard lock(m_mutex);
    return m_playing != nullptr;
}

void FakeWaveOut::failNext(Call call, MMRESULT result)
{
    std::lock_guard lock(m_mutex);
    m_failures[call] = result;
}

} // namespace morvik::waveout
