// Our small wave-output service over ALSA, shaped like the classic waveOut
// calls the sound output is written against. Blocks (WAVEHDR) written to an
// open device play in order on a feeder thread; each comes back exactly once
// through the device's completion callback, after its last sample has gone
// to ALSA (and, when nothing else is queued, has been played). Pause holds
// the queued blocks, reset returns them all, and volume and balance are
// applied in software to the samples still to be written.
//
// The ALSA device is "default", or the name in $MORVIK_ALSA_DEVICE ("null"
// plays nothing and needs no hardware).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace morvik::waveout {

using MMRESULT = std::uint32_t;
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

constexpr int WAVE_MAPPER = -1;
constexpr std::uint16_t WAVE_FORMAT_PCM = 1;

constexpr std::uint32_t WHDR_DONE = 0x01;
constexpr std::uint32_t WHDR_PREPARED = 0x02;
constexpr std::uint32_t WHDR_INQUEUE = 0x10;

struct WAVEFORMATEX {
    std::uint16_t wFormatTag = WAVE_FORMAT_PCM;
    std::uint16_t nChannels = 2;
    std::uint32_t nSamplesPerSec = 44100;
    std::uint32_t nAvgBytesPerSec = 176400;
    std::uint16_t nBlockAlign = 4;
    std::uint16_t wBitsPerSample = 16;
    std::uint16_t cbSize = 0;
};

struct WAVEHDR {
    std::uint8_t* lpData = nullptr;
    std::uint32_t dwBufferLength = 0;
    std::uint32_t dwFlags = 0;
};

struct WaveOutDevice;
using HWAVEOUT = WaveOutDevice*;

// Called on the device's feeder thread (or inside waveOutReset) once per
// finished block.
using WaveOutDoneCallback = std::function<void(WAVEHDR*)>;

// Number of devices: always 1, the configured ALSA device (whether it opens
// shows at waveOutOpen).
std::uint32_t waveOutGetNumDevs();
// Device -1 (the mapper) and 0 are the configured ALSA device. The callback
// may be empty (the device then only answers volume queries and refuses
// writes).
MMRESULT waveOutOpen(HWAVEOUT* device, int deviceId, const WAVEFORMATEX& format, WaveOutDoneCallback done);
MMRESULT waveOutPrepareHeader(HWAVEOUT device, WAVEHDR* header);
MMRESULT waveOutUnprepareHeader(HWAVEOUT device, WAVEHDR* header);
MMRESULT waveOutWrite(HWAVEOUT device, WAVEHDR* header);
MMRESULT waveOutPause(HWAVEOUT device);
MMRESULT waveOutRestart(HWAVEOUT device);
MMRESULT waveOutReset(HWAVEOUT device);
MMRESULT waveOutClose(HWAVEOUT device);
// Left volume in the low 16 bits, right in the high 16 bits. The setting
// belongs to the device and outlives its handles.
MMRESULT waveOutSetVolume(HWAVEOUT device, std::uint32_t volume);
MMRESULT waveOutGetVolume(HWAVEOUT device, std::uint32_t* volume);
// Fills `text` (at most `size` bytes with the terminator); non-zero when
// the code has no text.
MMRESULT waveOutGetErrorText(MMRESULT error, char* text, std::size_t size);

// For tests: sees every run of samples as it goes to ALSA, volume and
// balance applied. Empty to remove.
void setSampleTap(std::function<void(const std::uint8_t* data, std::size_t length)> tap);

} // namespace morvik::waveout
