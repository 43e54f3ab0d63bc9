#include "platform/waveout.h"

#include <algorithm>
#include <cstring>

namespace morvik::waveout {

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

MMRESULT checkOpenArguments(HWAVEOUT* device, int deviceId, const WAVEFORMATEX& f)
{
    if (!device)
        return MMSYSERR_INVALPARAM;
    *device = nullptr;
    if (deviceId != WAVE_MAPPER && deviceId != 0)
        return MMSYSERR_BADDEVICEID;
    const bool valid = f.wFormatTag == WAVE_FORMAT_PCM && f.nChannels >= 1 && f.nChannels <= 2 &&
                       f.nSamplesPerSec > 0 && (f.wBitsPerSample == 8 || f.wBitsPerSample == 16);
    return valid ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
}

void markPrepared(WAVEHDR* header) { header->dwFlags |= WHDR_PREPARED; }

MMRESULT markUnprepared(WAVEHDR* header)
{
    if (header->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT markQueued(WAVEHDR* header)
{
    if (!(header->dwFlags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    if (header->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    return MMSYSERR_NOERROR;
}

void markDone(WAVEHDR* header) { header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE; }

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

} // namespace morvik::waveout
