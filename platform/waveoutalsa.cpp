#include "platform/waveoutalsa.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <memory>
#include <thread>
#include <vector>

namespace morvik::waveout {

namespace {

// ALSA keeps about this much sound ahead of the speaker.
constexpr unsigned DeviceLatencyMicroseconds = 200000;
// Samples go to ALSA in runs of this many bytes, so pause and reset act
// within one run.
constexpr std::size_t RunBytes = 16384;

MMRESULT resultForOpenError(int alsaError)
{
    switch (-alsaError) {
    case EBUSY:
    case EAGAIN: return MMSYSERR_ALLOCATED;
    case ENOENT:
    case ENODEV:
    case ENXIO: return MMSYSERR_BADDEVICEID;
    case ENOMEM: return MMSYSERR_NOMEM;
    default: return MMSYSERR_NODRIVER;
    }
}

struct AlsaDevice final : WaveOutDevice {
    AlsaDevice(AlsaWaveOut* opener, const WAVEFORMATEX& f, WaveOutDoneCallback callback)
        : WaveOutDevice(opener), wave(*opener), format(f), done(std::move(callback)),
          frameBytes(static_cast<std::size_t>(f.nChannels) * (f.wBitsPerSample / 8))
    {
    }

    AlsaWaveOut& wave;
    snd_pcm_t* pcm = nullptr;
    const WAVEFORMATEX format;
    const WaveOutDoneCallback done;
    const std::size_t frameBytes;

    // Queue state: the blocks not yet returned, in order; how much of the
    // first has gone to ALSA; a generation that a reset advances.
    std::mutex stateMutex;
    std::condition_variable wake;
    std::deque<WAVEHDR*> queue;
    std::size_t offset = 0;
    std::uint64_t generation = 0;
    bool paused = false;
    bool closing = false;

    std::mutex pcmMutex;  // every ALSA call on `pcm`
    std::mutex doneMutex; // keeps completions in queue order
    std::vector<std::uint8_t> scratch;
    std::thread feeder;
};

void writeRun(AlsaDevice* d, const std::uint8_t* data, std::size_t length)
{
    const std::uint32_t volume = d->wave.volume();
    if (volume != FullVolume) {
        d->scratch.resize(length);
        applyVolume(d->format, data, d->scratch.data(), length, volume);
        data = d->scratch.data();
    }
    d->wave.passToTap(data, length);
    std::lock_guard lock(d->pcmMutex);
    auto frames = static_cast<snd_pcm_uframes_t>(length / d->frameBytes);
    while (frames > 0) {
        snd_pcm_sframes_t written = snd_pcm_writei(d->pcm, data, frames);
        if (written < 0)
            written = snd_pcm_recover(d->pcm, static_cast<int>(written), 1);
        if (written < 0)
            return; // the device failed; the run is lost, the queue goes on
        frames -= static_cast<snd_pcm_uframes_t>(written);
        data += static_cast<std::size_t>(written) * d->frameBytes;
    }
}

void complete(AlsaDevice* d, WAVEHDR* header)
{
    {
        std::lock_guard lock(d->stateMutex);
        markDone(header);
    }
    if (d->done)
        d->done(header);
}

// Lets ALSA play what it holds (the queue has run empty), then makes the
// device ready for the next block.
void playOut(AlsaDevice* d)
{
    std::lock_guard lock(d->pcmMutex);
    snd_pcm_drain(d->pcm);
    snd_pcm_prepare(d->pcm);
}

void feed(AlsaDevice* d)
{
    for (;;) {
        WAVEHDR* header = nullptr;
        std::size_t offset = 0;
        std::uint64_t generation = 0;
        {
            std::unique_lock lock(d->stateMutex);
            d->wake.wait(lock, [d] { return d->closing || (!d->paused && !d->queue.empty()); });
            if (d->closing)
                return;
            header = d->queue.front();
            offset = d->offset;
            generation = d->generation;
        }
        const std::size_t run = std::min<std::size_t>(header->dwBufferLength - offset, RunBytes);
        writeRun(d, header->lpData + offset, run);

        std::lock_guard doneLock(d->doneMutex);
        bool finished = false;
        bool queueEmpty = false;
        {
            std::lock_guard lock(d->stateMutex);
            if (generation != d->generation)
                continue; // a reset has returned this block already
            d->offset += run;
            if (d->offset >= header->dwBufferLength) {
                d->queue.pop_front();
                d->offset = 0;
                finished = true;
                queueEmpty = d->queue.empty();
            }
        }
        if (finished) {
            if (queueEmpty)
                playOut(d);
            complete(d, header);
        }
    }
}

} // namespace

WaveOut& defaultWaveOut()
{
    static AlsaWaveOut wave;
    return wave;
}

AlsaWaveOut::AlsaWaveOut(std::string deviceName) : m_deviceName(std::move(deviceName)) {}

std::string AlsaWaveOut::deviceName() const
{
    if (!m_deviceName.empty())
        return m_deviceName;
    const char* name = std::getenv("MORVIK_ALSA_DEVICE");
    return name && *name ? name : "default";
}

void AlsaWaveOut::passToTap(const std::uint8_t* data, std::size_t length)
{
    if (!m_tapSet.load())
        return;
    std::lock_guard lock(m_tapMutex);
    if (m_tap)
        m_tap(data, length);
}

void AlsaWaveOut::setSampleTap(SampleTap tap)
{
    std::lock_guard lock(m_tapMutex);
    m_tapSet.store(static_cast<bool>(tap));
    m_tap = std::move(tap);
}

std::uint32_t AlsaWaveOut::getNumDevs() { return 1; }

MMRESULT AlsaWaveOut::open(HWAVEOUT* device, int deviceId, const WAVEFORMATEX& format, WaveOutDoneCallback done)
{
    if (const MMRESULT checked = checkOpenArguments(device, deviceId, format); checked != MMSYSERR_NOERROR)
        return checked;
    auto d = std::make_unique<AlsaDevice>(this, format, std::move(done));
    if (d->done) {
        const int opened = snd_pcm_open(&d->pcm, deviceName().c_str(), SND_PCM_STREAM_PLAYBACK, 0);
        if (opened < 0)
            return resultForOpenError(opened);
        const snd_pcm_format_t sampleFormat = format.wBitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
        if (snd_pcm_set_params(d->pcm, sampleFormat, SND_PCM_ACCESS_RW_INTERLEAVED, format.nChannels,
                               format.nSamplesPerSec, 1, DeviceLatencyMicroseconds) < 0) {
            snd_pcm_close(d->pcm);
            return WAVERR_BADFORMAT;
        }
        AlsaDevice* raw = d.get();
        d->feeder = std::thread([raw] { feed(raw); });
    }
    *device = d.release();
    return MMSYSERR_NOERROR;
}

namespace {

// The device behind a handle, or null when this output did not open it.
AlsaDevice* deviceOf(const WaveOut* wave, HWAVEOUT handle)
{
    return handle && handle->owner == wave ? static_cast<AlsaDevice*>(handle) : nullptr;
}

} // namespace

MMRESULT AlsaWaveOut::prepareHeader(HWAVEOUT handle, WAVEHDR* header)
{
    AlsaDevice* device = deviceOf(this, handle);
    if (!device || !header)
        return !device ? MMSYSERR_INVALHANDLE : MMSYSERR_INVALPARAM;
    std::lock_guard lock(device->stateMutex);
    markPrepared(header);
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaWaveOut::unprepareHeader(HWAVEOUT handle, WAVEHDR* header)
{
    AlsaDevice* device = deviceOf(this, handle);
    if (!device || !header)
        return !device ? MMSYSERR_INVALHANDLE : MMSYSERR_INVALPARAM;
    std::lock_guard lock(device->stateMutex);
    return markUnprepared(header);
}

MMRESULT AlsaWaveOut::write(HWAVEOUT handle, WAVEHDR* header)
{
    AlsaDevice* device = deviceOf(this, handle);
    if (!device || !header)
        return !device ? MMSYSERR_INVALHANDLE : MMSYSERR_INVALPARAM;
    if (!device->pcm)
        return MMSYSERR_NOTSUPPORTED;
    {
        std::lock_guard lock(device->stateMutex);
        if (const MMRESULT queued = markQueued(header); queued != MMSYSERR_NOERROR)
            return queued;
        device->queue.push_back(header);
    }
    device->wake.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaWaveOut::pause(HWAVEOUT handle)
{
    AlsaDevice* device = deviceOf(this, handle);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    std::lock_guard lock(device->stateMutex);
    device->paused = true;
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaWaveOut::restart(HWAVEOUT handle)
{
    AlsaDevice* device = deviceOf(this, handle);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    {
        std::lock_guard lock(device->stateMutex);
        device->paused = false;
    }
    device->wake.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaWaveOut::reset(HWAVEOUT handle)
{
    AlsaDevice* device = deviceOf(this, handle);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    std::lock_guard doneLock(device->doneMutex);
    std::deque<WAVEHDR*> returned;
    {
        std::lock_guard lock(device->stateMutex);
        ++device->generation;
        returned.swap(device->queue);
        device->offset = 0;
    }
    if (device->pcm) {
        std::lock_guard lock(device->pcmMutex);
        snd_pcm_drop(device->pcm);
        snd_pcm_prepare(device->pcm);
    }
    for (WAVEHDR* header : returned)
        complete(device, header);
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaWaveOut::close(HWAVEOUT handle)
{
    AlsaDevice* device = deviceOf(this, handle);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    {
        std::lock_guard lock(device->stateMutex);
        if (!device->queue.empty())
            return WAVERR_STILLPLAYING;
        device->closing = true;
    }
    device->wake.notify_all();
    if (device->feeder.joinable())
        device->feeder.join();
    if (device->pcm)
        snd_pcm_close(device->pcm);
    delete device;
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaWaveOut::setVolume(HWAVEOUT handle, std::uint32_t volume)
{
    if (!deviceOf(this, handle))
        return MMSYSERR_INVALHANDLE;
    m_volume.store(volume);
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaWaveOut::getVolume(HWAVEOUT handle, std::uint32_t* volume)
{
    if (!deviceOf(this, handle))
        return MMSYSERR_INVALHANDLE;
    if (!volume)
        return MMSYSERR_INVALPARAM;
    *volume = m_volume.load();
    return MMSYSERR_NOERROR;
}

} // namespace morvik::waveout
