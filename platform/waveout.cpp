#include "platform/waveout.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace morvik::waveout {

namespace {

// ALSA keeps about this much sound ahead of the speaker.
constexpr unsigned DeviceLatencyMicroseconds = 200000;
// Samples go to ALSA in runs of this many bytes, so pause and reset act
// within one run.
constexpr std::size_t RunBytes = 16384;
constexpr std::uint32_t FullVolume = 0xFFFFFFFFu;

// The volume belongs to the device, as on systems with a mixer per device.
std::atomic<std::uint32_t> deviceVolume{FullVolume};

std::mutex tapMutex;
std::atomic<bool> tapSet{false};
std::function<void(const std::uint8_t*, std::size_t)> sampleTap;

const char* alsaDeviceName()
{
    const char* name = std::getenv("MORVIK_ALSA_DEVICE");
    return name && *name ? name : "default";
}

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

} // namespace

struct WaveOutDevice {
    snd_pcm_t* pcm = nullptr;
    WAVEFORMATEX format;
    WaveOutDoneCallback done;
    std::size_t frameBytes = 1;

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

namespace {

void applyVolume(const WAVEFORMATEX& format, const std::uint8_t* in, std::uint8_t* out, std::size_t length,
                 std::uint32_t volume)
{
    const std::int64_t gain[2] = {volume & 0xFFFF, volume >> 16};
    const unsigned channels = std::max<unsigned>(format.nChannels, 1);
    if (format.wBitsPerSample == 8) {
        for (std::size_t i = 0; i < length; ++i) {
            const std::int64_t g = gain[channels == 2 ? i % 2 : 0];
            out[i] = static_cast<std::uint8_t>((static_cast<std::int64_t>(in[i]) - 128) * g / 65535 + 128);
        }
        return;
    }
    for (std::size_t i = 0; i + 1 < length; i += 2) {
        const std::int64_t g = gain[channels == 2 ? (i / 2) % 2 : 0];
        const auto sample = static_cast<std::int16_t>(in[i] | (in[i + 1] << 8));
        const auto scaled = static_cast<std::uint16_t>(static_cast<std::int16_t>(sample * g / 65535));
        out[i] = static_cast<std::uint8_t>(scaled & 0xFF);
        out[i + 1] = static_cast<std::uint8_t>(scaled >> 8);
    }
}

void passToTap(const std::uint8_t* data, std::size_t length)
{
    if (!tapSet.load())
        return;
    std::lock_guard lock(tapMutex);
    if (sampleTap)
        sampleTap(data, length);
}

void writeRun(WaveOutDevice* d, const std::uint8_t* data, std::size_t length)
{
    const std::uint32_t volume = deviceVolume.load();
    if (volume != FullVolume) {
        d->scratch.resize(length);
        applyVolume(d->format, data, d->scratch.data(), length, volume);
        data = d->scratch.data();
    }
    passToTap(data, length);
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

void complete(WaveOutDevice* d, WAVEHDR* header)
{
    {
        std::lock_guard lock(d->stateMutex);
        header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    }
    if (d->done)
        d->done(header);
}

// Lets ALSA play what it holds (the queue has run empty), then makes the
// device ready for the next block.
void playOut(WaveOutDevice* d)
{
    std::lock_guard lock(d->pcmMutex);
    snd_pcm_drain(d->pcm);
    snd_pcm_prepare(d->pcm);
}

void feed(WaveOutDevice* d)
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

bool validFormat(const WAVEFORMATEX& f)
{
    return f.wFormatTag == WAVE_FORMAT_PCM && f.nChannels >= 1 && f.nChannels <= 2 && f.nSamplesPerSec > 0 &&
           (f.wBitsPerSample == 8 || f.wBitsPerSample == 16);
}

} // namespace

std::uint32_t waveOutGetNumDevs() { return 1; }

MMRESULT waveOutOpen(HWAVEOUT* device, int deviceId, const WAVEFORMATEX& format, WaveOutDoneCallback done)
{
    if (!device)
        return MMSYSERR_INVALPARAM;
    *device = nullptr;
    if (deviceId != WAVE_MAPPER && deviceId != 0)
        return MMSYSERR_BADDEVICEID;
    if (!validFormat(format))
        return WAVERR_BADFORMAT;
    auto d = std::make_unique<WaveOutDevice>();
    d->format = format;
    d->done = std::move(done);
    d->frameBytes = static_cast<std::size_t>(format.nChannels) * (format.wBitsPerSample / 8);
    if (d->done) {
        const int opened = snd_pcm_open(&d->pcm, alsaDeviceName(), SND_PCM_STREAM_PLAYBACK, 0);
        if (opened < 0)
            return resultForOpenError(opened);
        const snd_pcm_format_t sampleFormat = format.wBitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
        if (snd_pcm_set_params(d->pcm, sampleFormat, SND_PCM_ACCESS_RW_INTERLEAVED, format.nChannels,
                               format.nSamplesPerSec, 1, DeviceLatencyMicroseconds) < 0) {
            snd_pcm_close(d->pcm);
            return WAVERR_BADFORMAT;
        }
        WaveOutDevice* raw = d.get();
        d->feeder = std::thread([raw] { feed(raw); });
    }
    *device = d.release();
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT device, WAVEHDR* header)
{
    if (!device || !header)
        return !device ? MMSYSERR_INVALHANDLE : MMSYSERR_INVALPARAM;
    std::lock_guard lock(device->stateMutex);
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT device, WAVEHDR* header)
{
    if (!device || !header)
        return !device ? MMSYSERR_INVALHANDLE : MMSYSERR_INVALPARAM;
    std::lock_guard lock(device->stateMutex);
    if (header->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutWrite(HWAVEOUT device, WAVEHDR* header)
{
    if (!device || !header)
        return !device ? MMSYSERR_INVALHANDLE : MMSYSERR_INVALPARAM;
    if (!device->pcm)
        return MMSYSERR_NOTSUPPORTED;
    {
        std::lock_guard lock(device->stateMutex);
        if (!(header->dwFlags & WHDR_PREPARED))
            return WAVERR_UNPREPARED;
        if (header->dwFlags & WHDR_INQUEUE)
            return WAVERR_STILLPLAYING;
        header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        device->queue.push_back(header);
    }
    device->wake.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutPause(HWAVEOUT device)
{
    if (!device)
        return MMSYSERR_INVALHANDLE;
    std::lock_guard lock(device->stateMutex);
    device->paused = true;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutRestart(HWAVEOUT device)
{
    if (!device)
        return MMSYSERR_INVALHANDLE;
    {
        std::lock_guard lock(device->stateMutex);
        device->paused = false;
    }
    device->wake.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutReset(HWAVEOUT device)
{
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

MMRESULT waveOutClose(HWAVEOUT device)
{
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

MMRESULT waveOutSetVolume(HWAVEOUT device, std::uint32_t volume)
{
    if (!device)
        return MMSYSERR_INVALHANDLE;
    deviceVolume.store(volume);
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetVolume(HWAVEOUT device, std::uint32_t* volume)
{
    if (!device)
        return MMSYSERR_INVALHANDLE;
    if (!volume)
        return MMSYSERR_INVALPARAM;
    *volume = deviceVolume.load();
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetErrorText(MMRESULT error, char* text, std::size_t size)
{
    const char* message = nullptr;
    switch (error) {
    case MMSYSERR_NOERROR: message = "no error"; break;
    case MMSYSERR_ERROR: message = "the sound device failed"; break;
    case MMSYSERR_BADDEVICEID: message = "no such sound device"; break;
    case MMSYSERR_ALLOCATED: message = "the sound device is in use"; break;
    case MMSYSERR_INVALHANDLE: message = "the sound device is not open"; break;
    case MMSYSERR_NODRIVER: message = "the sound device could not be opened"; break;
    case MMSYSERR_NOMEM: message = "not enough memory for the sound device"; break;
    case MMSYSERR_NOTSUPPORTED: message = "the sound device does not support this operation"; break;
    case MMSYSERR_INVALPARAM: message = "invalid parameter for the sound device"; break;
    case WAVERR_BADFORMAT: message = "the sound device does not support this format"; break;
    case WAVERR_STILLPLAYING: message = "the sound device is still playing"; break;
    case WAVERR_UNPREPARED: message = "the sound block is not prepared"; break;
    default: return MMSYSERR_INVALPARAM;
    }
    if (!text || size == 0)
        return MMSYSERR_INVALPARAM;
    std::size_t n = std::min(std::strlen(message), size - 1);
    std::memcpy(text, message, n);
    text[n] = '\0';
    return MMSYSERR_NOERROR;
}

void setSampleTap(std::function<void(const std::uint8_t* data, std::size_t length)> tap)
{
    std::lock_guard lock(tapMutex);
    tapSet.store(static_cast<bool>(tap));
    sampleTap = std::move(tap);
}

} // namespace morvik::waveout
