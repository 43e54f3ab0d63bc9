// Our small wave-output service, shaped like the classic waveOut calls the
// sound output is written against, behind one interface (WaveOut) with two
// implementations: AlsaWaveOut (waveoutalsa.h) plays through ALSA, and
// FakeWaveOut (waveoutfake.h) lets a test decide when each block is done.
//
// What both promise: blocks (WAVEHDR) written to an open device play in
// order; each comes back exactly once through the device's completion
// callback, once its samples have gone to the device (its bytes are the
// caller's again from then on); pause holds the queued blocks
// (none comes back while paused), restart plays on, reset returns every
// queued block at once, and volume and balance apply to the samples still to
// play. The volume belongs to the WaveOut object, not to a handle, so it
// outlives the handles opened on it.
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

// Left volume in the low 16 bits, right in the high 16 bits.
constexpr std::uint32_t FullVolume = 0xFFFFFFFFu;

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

class WaveOut;

// An open device. Each implementation derives its own; a handle is only
// valid with the WaveOut that opened it (any other answers
// MMSYSERR_INVALHANDLE).
struct WaveOutDevice {
    explicit WaveOutDevice(const WaveOut* opener) : owner(opener) {}
    virtual ~WaveOutDevice() = default;
    WaveOutDevice(const WaveOutDevice&) = delete;
    WaveOutDevice& operator=(const WaveOutDevice&) = delete;

    const WaveOut* const owner;
};
using HWAVEOUT = WaveOutDevice*;

// Called once per finished block: on a thread of the implementation, or
// inside reset (and, for the fake, inside the call that lets a block finish).
using WaveOutDoneCallback = std::function<void(WAVEHDR*)>;

// Sees every run of samples as it plays, volume and balance applied; for
// tests.
using SampleTap = std::function<void(const std::uint8_t* data, std::size_t length)>;

class WaveOut {
public:
    virtual ~WaveOut() = default;

    // Number of devices.
    virtual std::uint32_t getNumDevs() = 0;
    // Device -1 (the mapper) and 0 are the one device. The callback may be
    // empty: the device then only answers volume queries and refuses writes.
    virtual MMRESULT open(HWAVEOUT* device, int deviceId, const WAVEFORMATEX& format, WaveOutDoneCallback done) = 0;
    virtual MMRESULT prepareHeader(HWAVEOUT device, WAVEHDR* header) = 0;
    // WAVERR_STILLPLAYING while the block is queued.
    virtual MMRESULT unprepareHeader(HWAVEOUT device, WAVEHDR* header) = 0;
    virtual MMRESULT write(HWAVEOUT device, WAVEHDR* header) = 0;
    virtual MMRESULT pause(HWAVEOUT device) = 0;
    virtual MMRESULT restart(HWAVEOUT device) = 0;
    virtual MMRESULT reset(HWAVEOUT device) = 0;
    // WAVERR_STILLPLAYING while blocks are queued.
    virtual MMRESULT close(HWAVEOUT device) = 0;
    virtual MMRESULT setVolume(HWAVEOUT device, std::uint32_t volume) = 0;
    virtual MMRESULT getVolume(HWAVEOUT device, std::uint32_t* volume) = 0;
    // Empty to remove.
    virtual void setSampleTap(SampleTap tap) = 0;
};

// The ALSA output the sound output uses unless it is given another: one per
// process, so its volume setting lasts as long as the process.
WaveOut& defaultWaveOut();

// Fills `text` (at most `size` bytes with the terminator); non-zero when
// the code has no text.
MMRESULT waveOutGetErrorText(MMRESULT error, char* text, std::size_t size);

// Shared by the implementations.

// Checks the arguments of open: a handle to fill, device -1 or 0, 8- or
// 16-bit PCM of one or two channels.
MMRESULT checkOpenArguments(HWAVEOUT* device, int deviceId, const WAVEFORMATEX& format);
// Header flag changes of prepare, unprepare and write (the caller holds the
// lock that guards its queue).
void markPrepared(WAVEHDR* header);
MMRESULT markUnprepared(WAVEHDR* header);
MMRESULT markQueued(WAVEHDR* header);
void markDone(WAVEHDR* header);
// Copies `length` bytes of samples from `in` to `out` scaled by a volume
// word; 8-bit samples are unsigned, 16-bit ones signed little-endian.
void applyVolume(const WAVEFORMATEX& format, const std::uint8_t* in, std::uint8_t* out, std::size_t length,
                 std::uint32_t volume);

} // namespace morvik::waveout
