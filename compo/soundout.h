// Sound output of the player: takes PCM from the decode thread into four
// blocks of half a second each, queues every full block to the wave device
// (or, with a wave file name, writes it to a RIFF/WAVE file), learns of
// finished blocks on its own output thread, wakes the decode thread when a
// block is free and reports the playing position at a fixed interval. The
// wave device comes from a waveout::WaveOut: ALSA unless the owner passes
// another (a test passes a waveout::FakeWaveOut).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "compo/loopthread.h"
#include "platform/waveout.h"

namespace morvik {

class PosixFile;

constexpr std::uint32_t MM_WOM_DONE = 0x3BD;     // a device block came back
constexpr std::uint32_t MPMWriteBlock = 0x414;   // file mode: write block LParam

class TSoundOut : public TMPMessageTarget {
public:
    static constexpr int BlockCount = 4;
    static constexpr std::int64_t BufferedMilliseconds = 2000;

    using TPositionEvent = std::function<void(TSoundOut* sender)>;
    using TExceptionEvent = std::function<void(TSoundOut* sender, const std::exception& e, bool& handled)>;

    // `wave` must outlive this object; its volume is read here.
    explicit TSoundOut(waveout::WaveOut& wave = waveout::defaultWaveOut());
    ~TSoundOut() override;
    TSoundOut(const TSoundOut&) = delete;
    TSoundOut& operator=(const TSoundOut&) = delete;

    // Format setters ignore values out of range; they count at the next Open.
    void SetSampleRate(std::int32_t rate);
    void SetChannels(std::int32_t channels);
    void SetBits(std::int32_t bits);
    void SetVolume(std::int32_t volume);   // 0 to 100
    void SetBalance(std::int32_t balance); // -100 (left only) to 100 (right only)
    void SetWaveFileName(const std::string& name); // ignored while opened

    std::int32_t SampleRate() const { return m_sampleRate; }
    std::int32_t Channels() const { return m_channels; }
    std::int32_t Bits() const { return m_bits; }
    std::int32_t Volume() const { return m_volume; }
    std::int32_t Balance() const { return m_balance; }
    const std::string& WaveFileName() const { return m_waveFileName; }
    bool Opened() const { return m_opened.load(); }
    std::int32_t BlockSize() const { return m_blockSize; }
    std::int32_t Queued() const { return m_queued.load(); }

    void Open();
    void Close();
    // Copies what fits and returns the bytes taken (possibly 0); never waits.
    std::int32_t Write(const void* data, std::int32_t length);
    bool CanWrite();
    std::int32_t FreePercent();
    // Queues a partly filled block and waits until the output thread has
    // taken everything posted so far.
    void Flush();
    // Returns when no block is queued any more, or the output thread ended.
    void WaitAllDone();
    // `event` is set once, as soon as a block is free (at once if one is).
    void NotifyWhenFree(TMPEvent* event);
    void Pause();
    void Unpause();
    // Returns every queued block and empties the one being filled.
    void Reset();

    // Set by the owner. OnPosition and OnException run on the output thread.
    void SetOnPosition(TPositionEvent handler);
    void SetOnException(TExceptionEvent handler);
    std::atomic<std::int32_t> NotifyInterval{-1}; // ms between position calls; -1 none
    std::int32_t DeviceId = waveout::WAVE_MAPPER;

    TMPLoopThread& Thread() { return *m_thread; }
    void Dispatch(TMPMessage& message) override;

private:
    waveout::WAVEFORMATEX pcmFormat() const;
    void openDevice();
    void openFile();
    void allocateBlocks();
    void closeDevice();
    void finishFile();
    void releaseBlocks();
    void waveWrite();
    void blockDone();
    void writeBlockToFile(std::int32_t index);
    void notifyFree();
    void checkPosition();
    void setVolumeToWaveDevice();
    std::int32_t getWaveVolume();
    static void checkWaveResult(waveout::MMRESULT result, const char* label);
    void offerException(const std::exception& e, bool& handled);
    void undoQueued();

    waveout::WaveOut& m_waveOut;
    std::int32_t m_sampleRate = 44100;
    std::int32_t m_channels = 2;
    std::int32_t m_bits = 16;
    std::atomic<bool> m_opened{false};
    std::int32_t m_volume = 100;
    std::int32_t m_balance = 0;
    std::string m_waveFileName;
    std::atomic<std::uint32_t> m_lastNotify{0};
    waveout::HWAVEOUT m_device = nullptr;
    bool m_paused = false;
    std::atomic<bool> m_fileMode{false};
    std::unique_ptr<PosixFile> m_waveFile;
    std::array<waveout::WAVEHDR, BlockCount> m_headers{};
    std::array<std::unique_ptr<std::uint8_t[]>, BlockCount> m_blocks;
    std::int32_t m_current = 0;
    std::int32_t m_filled = 0;
    std::atomic<std::int32_t> m_queued{0};
    std::int32_t m_blockSize = 0;

    std::mutex m_handlerMutex;
    TPositionEvent m_onPosition;
    TExceptionEvent m_onException;

    TMPSimpleMutex m_notifyLock; // guards m_freeEvent
    TMPEvent* m_freeEvent = nullptr;
    TMPSimpleEvent m_idleEvent;  // set while nothing is queued
    TMPSimpleMutex m_blockLock;  // guards m_current, m_filled, the blocks, header lengths, m_device
    std::unique_ptr<TMPLoopThread> m_thread;
};

} // namespace morvik
