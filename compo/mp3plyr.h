// The MP3 player component: plays one MPEG audio file at a time through the
// sound output. The owner drives it from its main thread (FileName, Play,
// Stop, Pause, Resume, Close) and hears of it through events that always
// arrive on that thread, by way of a notification queue the owner pumps or
// that sits on its event loop. Decoding runs on the player's decode thread,
// one frame per wake-up, on the frame stepper that `morvik-cli decode` uses
// too; the sound output's own thread reports finished blocks and the
// position.
//
// Locks: the decoder lock guards the stepper, the decoder and the PCM
// buffer; the output lock serialises calls into the sound output. Whoever
// needs both takes the decoder lock first.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "compo/framestepper.h"
#include "compo/loopthread.h"
#include "compo/mp3info.h"
#include "compo/notifyqueue.h"
#include "compo/soundout.h"
#include "compo/stream.h"
#include "platform/waveout.h"

namespace morvik {

enum TMP3EqualizerMode : std::uint8_t { memSubBand = 0, memFreq = 1 };
enum TMP3EndPlayReason : std::uint8_t { meprEndOfFile = 0, meprStop = 1, meprError = 2 };

// Processor features the decoder may use; bit k of TMP3CpuCapabilities
// stands for feature k.
enum TMP3CpuCapability : std::uint8_t { mccMMX = 0, mcc3DNow = 1, mccKNI = 2, mccE3DNow = 3, mccCMOV = 4, mccEMMX = 5 };
using TMP3CpuCapabilities = std::uint8_t;
constexpr TMP3CpuCapabilities AllCpuCapabilities = 0x3F;

// Notification numbers on the player's queue.
constexpr std::uint32_t MPMChangePosition = 0x40A;
constexpr std::uint32_t MPMThreadException = 0x40B;
constexpr std::uint32_t MPMEndOfStream = 0x40C;
constexpr std::uint32_t MPMChangeStatus = 0x40E;
constexpr std::uint32_t MPMEndPlay = 0x40F;
constexpr std::uint32_t MPMEqualizerChanged = 0x410;

// Status values.
constexpr std::uint8_t mpsStopped = 0;
constexpr std::uint8_t mpsPlaying = 1;
constexpr std::uint8_t mpsPaused = 2;

// Abilities bits.
constexpr std::uint8_t mpaAlways = 0x01;
constexpr std::uint8_t mpaOpen = 0x02;
constexpr std::uint8_t mpaPlay = 0x04;
constexpr std::uint8_t mpaStop = 0x08;
constexpr std::uint8_t mpaPause = 0x10;
constexpr std::uint8_t mpaResume = 0x20;
constexpr std::uint8_t mpaSeek = 0x40;
constexpr std::uint8_t mpaStopped = 0x80;

// SourceFlags bits.
constexpr std::uint8_t mpsfSeekable = 0x01;
constexpr std::uint8_t mpsfOwned = 0x02;

// The message of every stream that cannot be played.
extern const char* const UnknownMpegAudioFormat; // "unknown MPEG Audio format."

class TMP3Player final : public TMPMessageTarget {
public:
    using TNotifyEvent = std::function<void(TMP3Player* sender)>;
    using TMP3EndPlayEvent = std::function<void(TMP3Player* sender, TMP3EndPlayReason reason)>;

    static constexpr int MaxBands = 32;
    static constexpr int SubBands = 32;
    static constexpr int Lines = 576;
    static constexpr std::int32_t MaxBandFrequency = 24000;
    // Free output space in percent at or below which the decode thread
    // yields, so that the output thread gets to run.
    static constexpr std::int32_t YieldPercent = 25;

    // `window` and `wave` must outlive the player. The player installs its
    // handler on `window` and removes it when destroyed.
    explicit TMP3Player(NotifyQueue& window, waveout::WaveOut& wave = waveout::defaultWaveOut());
    ~TMP3Player() override;
    TMP3Player(const TMP3Player&) = delete;
    TMP3Player& operator=(const TMP3Player&) = delete;

    // Component state. Between BeginLoading and Loaded the setters only
    // store (FileName and AutoOpen do not open; Volume 0 takes over the
    // output's volume). In design mode nothing plays.
    void BeginLoading() { m_loading = true; }
    void Loaded();
    bool Loading() const { return m_loading; }
    void SetDesignMode(bool on) { m_designMode = on; }
    bool DesignMode() const { return m_designMode; }
    // Loads the values the editor's form stores for its player, through the
    // setters, and ends with Loaded.
    void LoadFormValues();

    // Opens FileName (empty: Close). Stream errors and UnknownMpegAudioFormat
    // (as EMPError) reach the caller; the player is closed after a failure.
    void Open();
    // Plays from any stream; `flags` are SourceFlags bits. With mpsfOwned the
    // player frees the stream (also when opening fails).
    void OpenStream(TMPStream* stream, std::uint8_t flags);
    void Close();
    void Play();
    void Stop();
    void Pause();
    void Resume();

    std::uint8_t Abilities() const;
    std::uint8_t Status() const { return m_status.load(); }
    bool IsOpen() const { return m_source != nullptr; }

    // Properties.
    bool AutoOpen() const { return m_autoOpen; }
    void SetAutoOpen(bool on);
    bool AutoPlay() const { return m_autoPlay; }
    void SetAutoPlay(bool on);
    std::int32_t ChangePosStep() const { return m_changePosStep; }
    void SetChangePosStep(std::int32_t ms);
    TThreadPriority DecodePriority() const { return m_decodePriority; }
    void SetDecodePriority(TThreadPriority priority);
    bool EqualizerEnabled() const { return m_equalizerEnabled; }
    void SetEqualizerEnabled(bool on);
    std::int32_t EqualizerCount() const { return m_equalizerCount; }
    // Values <= 0, above MaxBands or equal to the current one are ignored.
    void SetEqualizerCount(std::int32_t count);
    TMP3EqualizerMode EqualizerMode() const { return m_equalizerMode; }
    void SetEqualizerMode(TMP3EqualizerMode mode);
    const std::string& FileName() const { return m_fileName; }
    void SetFileName(const std::string& name);
    TMP3InfoType NeedInfoType() const;
    void SetNeedInfoType(TMP3InfoType types);
    bool NoisySeek = true; // stored; nothing reads it
    bool InvertPolarity();
    void SetInvertPolarity(bool on);
    TMP3CpuCapabilities UsingCpuCapabilities() const { return m_cpuCapabilities; }
    void SetUsingCpuCapabilities(TMP3CpuCapabilities caps);
    // A feature word used in place of the detected one (0: the detected
    // one), so that tests and benchmarks can select every variant family;
    // set it before UsingCpuCapabilities. A variant whose instructions the
    // processor lacks is never chosen, whatever the word says.
    void SetCpuFeatureWord(std::uint32_t word) { m_cpuFeatureWord = word; }
    // Every decoder routine in its reference variant at Play, whatever the
    // capabilities.
    bool ForceReferenceRoutines = false;
    std::int32_t VolBalance() const { return m_volBalance; }
    void SetVolBalance(std::int32_t balance);
    std::int32_t Volume() const { return m_volume; }
    void SetVolume(std::int32_t volume);

    TNotifyEvent OnChangePosition;
    TNotifyEvent OnChangeStatus;
    TMP3EndPlayEvent OnEndPlay;

    // What the open file is, for display; zero when closed.
    const TMP3Info& Info() const { return m_stepper.info(); }
    std::int64_t AudioStart() const { return m_stepper.audioStart(); }
    // The decode thread shortens it when the stream ends early.
    std::int64_t AudioLength() const;
    std::int32_t BitRate() const { return m_stepper.bitRate(); }
    std::int32_t Channels() const { return m_channels; }
    std::int32_t LayerNumber() const { return m_layerNumber; }
    std::int32_t MpegVersion() const { return m_mpegVersion; }
    std::int32_t SampleRate() const { return m_sampleRate; }
    std::int64_t TotalPcmBytes() const { return m_stepper.totalPcmBytes(); }
    // Milliseconds of sound handed to the output since Play, less what still
    // waits in its queued blocks: roughly what has been heard.
    std::int64_t PositionMs() const;

    // When non-empty, Play writes this WAVE file instead of using the device;
    // Stop empties it.
    std::string WaveFileName;
    std::int32_t DeviceId = waveout::WAVE_MAPPER;

    // Equalizer: band gains in hundredths of a decade (0 = unity).
    void SetEqualizerBandRange(std::int32_t lowHz, std::int32_t highHz);
    void SetBandGain(int band, std::int32_t gain);
    const std::array<std::int32_t, MaxBands>& BandGains() const { return m_bandGains; }
    const std::array<std::int32_t, MaxBands>& BandFrequencies() const { return m_bandFrequencies; }
    std::int32_t SubBandCentre(int subband) const;
    std::int32_t LineCentre(int line) const;
    // The gain factors last handed to the decoder, with their switches.
    const std::array<float, SubBands>& SubBandFactors() const { return m_subBandFactors; }
    const std::array<float, Lines>& LineFactors() const { return m_lineFactors; }
    bool SubBandEqualizerOn() const { return m_subBandSwitch; }
    bool LineEqualizerOn() const { return m_lineSwitch; }

    // Decode thread.
    void Dispatch(TMPMessage& message) override;

private:
    void setStatus(std::uint8_t status);
    void positionTick();
    void threadException(const std::exception& e, bool& handled);
    void windowProc(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
    void onThreadException(std::uintptr_t wParam, std::intptr_t lParam);
    void onEndOfStream(std::uint64_t playSerial);
    void doChangeStatus();
    void doChangePosition();
    void doEndPlay();
    void freeSource();
    void configureOutputFormat();

    // The decode step and its parts; the decoder lock is held where noted.
    void decodeStep();
    bool handOver(std::int32_t* freePercent); // decoder lock held
    void drain(std::uint64_t playSerial);
    void readAhead(std::int32_t freePercent);

    void applyEqualizer();
    void applySubBandEqualizer();
    void applyFrequencyEqualizer();
    int nearestBand(std::int32_t centre) const;
    static float gainFactor(std::int32_t gain);

    NotifyQueue& m_window;
    bool m_loading = false;
    bool m_designMode = false;
    std::atomic<bool> m_destroying{false};
    TMPSimpleEvent m_shutdown; // ends a worker's wait for the main thread

    bool m_autoOpen = true;
    bool m_autoPlay = true;
    std::int32_t m_changePosStep = 400;
    TThreadPriority m_decodePriority = tpNormal;
    bool m_equalizerEnabled = false;
    std::int32_t m_equalizerCount = 6;
    TMP3EqualizerMode m_equalizerMode = memSubBand;
    std::string m_fileName;
    TMP3CpuCapabilities m_cpuCapabilities = AllCpuCapabilities;
    std::uint32_t m_cpuFeatureWord = 0;
    std::uint32_t cpuFeatures() const;
    std::int32_t m_volBalance = 0;
    std::int32_t m_volume = 100;

    TMPStream* m_source = nullptr;
    std::uint8_t m_sourceFlags = 0;
    std::atomic<std::uint8_t> m_status{mpsStopped};
    TMP3EndPlayReason m_endReason = meprStop;
    std::int32_t m_channels = 0;
    std::int32_t m_layerNumber = 0;
    std::int32_t m_mpegVersion = 0;
    std::int32_t m_sampleRate = 0;

    // Guarded by the decoder lock.
    mutable TMPSimpleMutex m_decoderLock;
    std::unique_ptr<mpeg::MpegDecoder> m_decoder;
    FrameStepper m_stepper;
    alignas(8) std::int16_t m_pcm[FrameStepper::PcmBufferBytes / 2] = {};
    std::int32_t m_pcmPending = 0;
    bool m_running = false;          // between Play and Stop
    std::uint64_t m_playSerial = 0;  // counts Stops: a drain of an earlier run posts nothing
    std::atomic<std::int64_t> m_pcmHandedOver{0};

    TMPSimpleMutex m_outputLock;
    std::unique_ptr<TSoundOut> m_output;
    std::unique_ptr<TMPLoopThread> m_thread;

    std::array<std::int32_t, MaxBands> m_bandGains{};
    std::array<std::int32_t, MaxBands> m_bandFrequencies{};
    std::array<float, SubBands> m_subBandFactors{};
    std::array<float, Lines> m_lineFactors{};
    bool m_subBandSwitch = false;
    bool m_lineSwitch = false;
};

} // namespace morvik
