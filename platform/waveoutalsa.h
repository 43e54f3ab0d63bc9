// The wave output over ALSA. Each open device has a feeder thread that
// hands the queued blocks to ALSA in runs of 16 KiB (so pause and reset act
// within one run) and reports a block done once its last run has gone to
// ALSA and, when nothing else is queued, has been played. Volume and
// balance are applied in software to each run as it is written.
//
// The ALSA device is the one named at construction, else the one in
// $MORVIK_ALSA_DEVICE at each open, else "default" ("null" plays nothing
// and needs no hardware).
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "platform/waveout.h"

namespace morvik::waveout {

class AlsaWaveOut final : public WaveOut {
public:
    explicit AlsaWaveOut(std::string deviceName = {});
    AlsaWaveOut(const AlsaWaveOut&) = delete;
    AlsaWaveOut& operator=(const AlsaWaveOut&) = delete;

    // Always 1, the configured ALSA device (whether it opens shows at open).
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

    // Used by the feeder threads of this object's devices.
    std::uint32_t volume() const { return m_volume.load(); }
    void passToTap(const std::uint8_t* data, std::size_t length);

private:
    std::string deviceName() const;

    const std::string m_deviceName;
    std::atomic<std::uint32_t> m_volume{FullVolume};
    std::mutex m_tapMutex;
    std::atomic<bool> m_tapSet{false};
    SampleTap m_tap;
};

} // namespace morvik::waveout
