#include "compo/mp3plyr.h"

#include "compo/mpassert.h"
#include "compo/mpeg/cpufeatures.h"
#include "compo/mpeg/dispatch.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

namespace morvik {

const char* const UnknownMpegAudioFormat = "unknown MPEG Audio format.";

TMP3Player::TMP3Player(NotifyQueue& window, waveout::WaveOut& wave)
    : m_window(window), m_decoder(std::make_unique<mpeg::MpegDecoder>()), m_stepper(*m_decoder)
{
    m_window.setHandler([this](std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
        windowProc(message, wParam, lParam);
    });
    m_output = std::make_unique<TSoundOut>(wave);
    m_output->NotifyInterval = m_changePosStep;
    m_output->SetOnException([this](TSoundOut*, const std::exception& e, bool& handled) { threadException(e, handled); });
    m_output->SetOnPosition([this](TSoundOut*) { positionTick(); });
    m_thread = std::make_unique<TMPLoopThread>(this);
    m_thread->SetOnException([this](TMPLoopThread*, const std::exception& e, bool& handled) { threadException(e, handled); });
    m_thread->Resume();
}

TMP3Player::~TMP3Player()
{
    m_destroying = true;
    m_shutdown.Signal();
    try {
        Stop();
        Close();
    } catch (const std::exception& e) {
        MPShowException(e);
    }
    // The decode thread reaches the player through m_thread: it must have
    // ended before the pointer goes.
    m_thread->Terminate();
    m_thread.reset();
    m_output.reset();
    m_window.setHandler({});
    for (std::uint32_t n : {MPMChangePosition, MPMThreadException, MPMEndOfStream, MPMChangeStatus, MPMEndPlay,
                            MPMEqualizerChanged})
        m_window.removePending(n);
}

void TMP3Player::Loaded()
{
    m_loading = false;
    if (m_designMode)
        return;
    if (m_equalizerMode == memFreq)
        SetEqualizerBandRange(60, 16000);
    if (m_autoOpen && !m_fileName.empty())
        Open();
}

void TMP3Player::LoadFormValues()
{
    BeginLoading();
    SetAutoOpen(true);
    SetAutoPlay(true);
    SetChangePosStep(400);
    SetDecodePriority(tpNormal);
    SetEqualizerEnabled(false);
    SetEqualizerCount(6);
    SetEqualizerMode(memSubBand);
    SetNeedInfoType({mitID3V1, mitID3V2, mitRiff});
    NoisySeek = true;
    SetInvertPolarity(false);
    SetUsingCpuCapabilities(AllCpuCapabilities);
    SetVolBalance(0);
    SetVolume(100);
    Loaded();
}

// ---- properties ------------------------------------------------------------

void TMP3Player::SetAutoOpen(bool on)
{
    m_autoOpen = on;
    if (on && !m_loading && !m_designMode)
        Open();
}

void TMP3Player::SetAutoPlay(bool on)
{
    m_autoPlay = on;
    if (IsOpen() && (Status() == mpsStopped || Status() == mpsPaused))
        Play();
}

void TMP3Player::SetChangePosStep(std::int32_t ms)
{
    if (ms < 100)
        return;
    m_changePosStep = ms;
    TMPLock lock(m_outputLock);
    m_output->NotifyInterval = ms;
}

void TMP3Player::SetDecodePriority(TThreadPriority priority)
{
    m_decodePriority = priority;
    if (!m_designMode)
        m_thread->SetPriority(MPThreadPriorityValue(priority));
}

void TMP3Player::SetEqualizerEnabled(bool on)
{
    if (on == m_equalizerEnabled)
        return;
    m_equalizerEnabled = on;
    m_window.postOnce(MPMEqualizerChanged, 0, 0);
}

void TMP3Player::SetEqualizerCount(std::int32_t count)
{
    // The band tables have MaxBands entries: larger counts are refused.
    if (count <= 0 || count > MaxBands || count == m_equalizerCount)
        return;
    m_equalizerCount = count;
    m_window.postOnce(MPMEqualizerChanged, 0, 0);
}

void TMP3Player::SetEqualizerMode(TMP3EqualizerMode mode)
{
    if (mode == m_equalizerMode)
        return;
    m_equalizerMode = mode;
    m_window.postOnce(MPMEqualizerChanged, 0, 0);
}

void TMP3Player::SetFileName(const std::string& name)
{
    m_fileName = name;
    if (m_autoOpen && !m_loading && !m_designMode)
        Open();
}

TMP3InfoType TMP3Player::NeedInfoType() const { return m_stepper.info().NeedInfoType; }

void TMP3Player::SetNeedInfoType(TMP3InfoType types) { m_stepper.info().NeedInfoType = types; }

bool TMP3Player::InvertPolarity()
{
    TMPLock lock(m_decoderLock);
    return m_decoder->GetInvertPolarity();
}

void TMP3Player::SetInvertPolarity(bool on)
{
    TMPLock lock(m_decoderLock);
    m_decoder->SetInvertPolarity(on);
}

std::uint32_t TMP3Player::cpuFeatures() const
{
    return m_cpuFeatureWord != 0 ? m_cpuFeatureWord : mpeg::CpuFeatures();
}

void TMP3Player::SetUsingCpuCapabilities(TMP3CpuCapabilities caps)
{
    caps &= AllCpuCapabilities;
    if (!m_designMode)
        caps &= mpeg::FeaturesToCapabilities(cpuFeatures());
    m_cpuCapabilities = caps;
}

void TMP3Player::SetVolBalance(std::int32_t balance)
{
    if (balance < -100 || balance > 100)
        return;
    m_volBalance = balance;
    TMPLock lock(m_outputLock);
    m_output->SetBalance(balance);
}

void TMP3Player::SetVolume(std::int32_t volume)
{
    if (volume < 0 || volume > 100)
        return;
    if (volume == 0 && m_loading && !m_designMode) {
        // A stored 0 means: keep the device's own volume.
        TMPLock lock(m_outputLock);
        m_volume = m_output->Volume();
        return;
    }
    m_volume = volume;
    TMPLock lock(m_outputLock);
    m_output->SetVolume(volume);
}

std::uint8_t TMP3Player::Abilities() const
{
    if (!IsOpen())
        return mpaAlways;
    const std::uint8_t status = Status();
    const bool toDevice = WaveFileName.empty();
    std::uint8_t a = mpaAlways | mpaOpen;
    if (status == mpsStopped)
        a |= mpaPlay | mpaStopped;
    else
        a |= mpaStop;
    if (status == mpsPlaying && toDevice)
        a |= mpaPause;
    if (status == mpsPaused && toDevice)
        a |= mpaResume;
    if ((m_sourceFlags & mpsfSeekable) && status != mpsStopped && toDevice)
        a |= mpaSeek;
    return a;
}

std::int64_t TMP3Player::AudioLength() const
{
    TMPLock lock(m_decoderLock);
    return m_stepper.audioLength();
}

std::int64_t TMP3Player::PositionMs() const
{
    const std::int64_t bytesPerSecond = std::int64_t{m_sampleRate} * m_channels * 2;
    if (bytesPerSecond <= 0)
        return 0;
    const std::int64_t waiting = std::int64_t{m_output->Queued()} * m_output->BlockSize();
    const std::int64_t heard = m_pcmHandedOver.load() - waiting;
    return heard > 0 ? heard * 1000 / bytesPerSecond : 0;
}

// ---- opening and closing ---------------------------------------------------

void TMP3Player::Open()
{
    if (m_fileName.empty()) {
        Close();
        return;
    }
    const std::string name = m_fileName;
    std::unique_ptr<TMPFileStream> stream;
    try {
        stream = std::make_unique<TMPFileStream>(name);
    } catch (...) {
        // A file that cannot be opened leaves the player closed, not still
        // holding the previous file under the new name.
        Close();
        throw;
    }
    OpenStream(stream.release(), mpsfSeekable | mpsfOwned);
    m_fileName = name;
}

void TMP3Player::OpenStream(TMPStream* stream, std::uint8_t flags)
{
    try {
        Close();
    } catch (...) {
        if (flags & mpsfOwned)
            delete stream;
        throw;
    }
    m_source = stream;
    m_sourceFlags = flags;
    if (stream) {
        try {
            bool opened = false;
            {
                TMPLock lock(m_decoderLock);
                m_pcmPending = 0;
                opened = m_stepper.open(*stream, flags & mpsfSeekable);
            }
            if (!opened)
                throw EMPError(UnknownMpegAudioFormat);
            configureOutputFormat();
        } catch (...) {
            Close();
            throw;
        }
        m_window.postOnce(MPMEqualizerChanged, 0, 0);
        setStatus(mpsStopped);
    }
    if (m_autoPlay)
        Play();
}

void TMP3Player::configureOutputFormat()
{
    const mpeg::OutputFormat& format = m_stepper.format();
    {
        TMPLock lock(m_outputLock);
        m_output->SetSampleRate(format.sampleRate);
        m_output->SetBits(format.bitsPerSample);
        m_output->SetChannels(format.channels);
    }
    m_sampleRate = format.sampleRate;
    m_channels = format.channels;
    const mpeg::MpegFrameHeader& h = m_stepper.firstHeader();
    m_layerNumber = mpeg::layerNumber(h);
    if (h.VersionId == 1)
        m_mpegVersion = 1;
    else
        m_mpegVersion = h.SyncKind == 1 ? 2 : 3;
}

void TMP3Player::Close()
{
    if (!IsOpen())
        return;
    if (Status() != mpsStopped) {
        Stop();
        if (!IsOpen())
            return; // an unseekable stream: Stop closed it
    }
    {
        TMPLock lock(m_decoderLock);
        m_stepper.close();
        m_pcmPending = 0;
    }
    m_fileName.clear();
    freeSource();
    m_channels = 0;
    m_layerNumber = 0;
    m_mpegVersion = 0;
    m_sampleRate = 0;
    setStatus(mpsStopped);
}

void TMP3Player::freeSource()
{
    if (m_sourceFlags & mpsfOwned)
        delete m_source;
    m_source = nullptr;
    m_sourceFlags = 0;
}

// ---- playing ----------------------------------------------------------------

void TMP3Player::Play()
{
    if (!(Abilities() & mpaPlay))
        return;
    try {
        // The decode thread is idle until the signal below: the table may
        // change. A set never set outside design mode may still name what
        // the processor lacks; the intersection keeps that out.
        if (ForceReferenceRoutines) {
            mpeg::SelectReferenceVariants();
        } else {
            const std::uint32_t features = cpuFeatures();
            const TMP3CpuCapabilities caps = m_cpuCapabilities & mpeg::FeaturesToCapabilities(features);
            mpeg::SelectDecoderVariants(mpeg::EffectiveFeatures(features, caps));
        }
        {
            TMPLock decoderLock(m_decoderLock);
            {
                TMPLock outputLock(m_outputLock);
                m_output->SetOnPosition([this](TSoundOut*) { positionTick(); });
                m_output->SetWaveFileName(WaveFileName);
                m_output->DeviceId = DeviceId;
                m_output->Open();
            }
            m_running = true;
            m_pcmHandedOver = 0;
        }
        m_thread->Event().Signal();
    } catch (...) {
        Stop();
        throw;
    }
    setStatus(mpsPlaying);
    m_endReason = meprStop;
    m_window.postOnce(MPMChangePosition, 0, 0);
}

void TMP3Player::Stop()
{
    if (!IsOpen() || Status() == mpsStopped)
        return;
    WaveFileName.clear();
    const bool seekable = m_sourceFlags & mpsfSeekable;
    {
        TMPLock decoderLock(m_decoderLock);
        m_running = false;
        ++m_playSerial;
        {
            TMPLock outputLock(m_outputLock);
            m_output->SetOnPosition({});
            m_output->Reset();
            m_output->Close();
            m_thread->Event().Reset();
        }
        if (seekable)
            m_stepper.rewind();
        m_pcmPending = 0;
    }
    setStatus(mpsStopped);
    m_window.postOnce(MPMChangePosition, 0, 0);
    if (!seekable)
        Close();
}

void TMP3Player::Pause()
{
    if (!(Abilities() & mpaPause))
        return;
    {
        TMPLock lock(m_outputLock);
        m_output->Pause();
    }
    setStatus(mpsPaused);
}

void TMP3Player::Resume()
{
    if (!(Abilities() & mpaResume))
        return;
    {
        TMPLock lock(m_outputLock);
        m_output->Unpause();
    }
    setStatus(mpsPlaying);
}

void TMP3Player::setStatus(std::uint8_t status)
{
    const std::uint8_t old = m_status.exchange(status);
    const bool ending = IsOpen() && old != mpsStopped && status == mpsStopped;
    m_window.postOnce(MPMChangeStatus, 0, 0);
    if (ending)
        m_window.postOnce(MPMEndPlay, 0, 0);
}

// ---- worker-thread entry points ----------------------------------------------

void TMP3Player::positionTick() { m_window.post(MPMChangePosition, 0, 0); }

void TMP3Player::threadException(const std::exception& e, bool& handled)
{
    TMPSimpleEvent shown;
    m_window.post(MPMThreadException, reinterpret_cast<std::uintptr_t>(&shown),
                  reinterpret_cast<std::intptr_t>(&e));
    // The main thread shows it; a player being destroyed stops listening.
    MPWaitForAny({&shown, &m_shutdown}, MPInfinite);
    handled = true;
}

// ---- notifications (main thread) ----------------------------------------------

void TMP3Player::windowProc(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)
{
    switch (message) {
    case MPMChangePosition:
        m_window.removePending(MPMChangePosition);
        doChangePosition();
        break;
    case MPMThreadException:
        onThreadException(wParam, lParam);
        break;
    case MPMEndOfStream:
        onEndOfStream(wParam);
        break;
    case MPMChangeStatus:
        m_window.removePending(MPMChangeStatus);
        doChangeStatus();
        break;
    case MPMEndPlay:
        m_window.removePending(MPMEndPlay);
        doEndPlay();
        break;
    case MPMEqualizerChanged:
        applyEqualizer();
        break;
    default:
        break;
    }
}

void TMP3Player::onThreadException(std::uintptr_t wParam, std::intptr_t lParam)
{
    auto* shown = reinterpret_cast<TMPSimpleEvent*>(wParam);
    const auto* e = reinterpret_cast<const std::exception*>(lParam);
    try {
        if (e)
            MPShowException(*e);
    } catch (...) {
    }
    shown->Signal();
    m_endReason = meprError;
    Stop();
}

void TMP3Player::onEndOfStream(std::uint64_t playSerial)
{
    {
        // Posted by a run that has since been stopped (and perhaps followed
        // by another Play): not this run's end.
        TMPLock lock(m_decoderLock);
        if (playSerial != m_playSerial)
            return;
    }
    m_endReason = meprEndOfFile;
    if (m_sourceFlags & mpsfSeekable)
        Stop();
    else
        Close();
}

void TMP3Player::doChangeStatus()
{
    if (!m_destroying && OnChangeStatus)
        OnChangeStatus(this);
}

void TMP3Player::doChangePosition()
{
    if (!m_destroying && OnChangePosition)
        OnChangePosition(this);
}

void TMP3Player::doEndPlay()
{
    if (OnEndPlay)
        OnEndPlay(this, m_endReason);
    m_endReason = meprStop;
}

// ---- decode step (decode thread) ----------------------------------------------

void TMP3Player::Dispatch(TMPMessage& message)
{
    if (message.Msg == MPMWatchEvent)
        decodeStep();
}

void TMP3Player::decodeStep()
{
    std::int32_t freePercent = 0;
    {
        TMPLock lock(m_decoderLock);
        if (m_thread->Event().WaitFor(0) != MPWaitSignaled)
            return;
        if (!m_running) {
            m_thread->Event().Reset();
            return;
        }
        if (m_pcmPending == 0) {
            if (m_stepper.atEndOfAudio()) {
                {
                    TMPLock outputLock(m_outputLock);
                    m_output->NotifyWhenFree(nullptr);
                    m_output->Flush();
                }
                const std::uint64_t serial = m_playSerial;
                // The wait for the last blocks runs without the decoder lock,
                // so that Stop (whose Reset returns the blocks even while the
                // output is paused) can end it.
                m_decoderLock.Leave();
                try {
                    drain(serial);
                } catch (...) {
                    m_decoderLock.Enter();
                    throw;
                }
                m_decoderLock.Enter();
                return;
            }
            m_pcmPending = m_stepper.decodeStep(m_pcm);
            if (m_pcmPending == 0)
                return; // a byte skipped, or the audio range ended
        }
        if (!handOver(&freePercent))
            return;
    }
    readAhead(freePercent);
    if (freePercent <= YieldPercent)
        std::this_thread::yield();
}

bool TMP3Player::handOver(std::int32_t* freePercent)
{
    MP_ASSERT(m_pcmPending > 0);
    TMPLock lock(m_outputLock);
    if (m_output->CanWrite()) {
        const std::int32_t n = m_output->Write(m_pcm, m_pcmPending);
        m_pcmHandedOver += n;
        m_pcmPending -= n;
        if (m_pcmPending > 0)
            std::memmove(m_pcm, reinterpret_cast<std::uint8_t*>(m_pcm) + n, static_cast<std::size_t>(m_pcmPending));
    } else {
        m_thread->Event().Reset();
        m_output->NotifyWhenFree(&m_thread->Event());
    }
    *freePercent = m_output->FreePercent();
    return true;
}

void TMP3Player::drain(std::uint64_t playSerial)
{
    m_output->WaitAllDone();
    TMPLock lock(m_decoderLock);
    if (playSerial != m_playSerial)
        return; // stopped meanwhile
    m_thread->Event().Reset();
    m_window.post(MPMEndOfStream, static_cast<std::uintptr_t>(playSerial), 0);
}

// While the output is full but the event still set, fill the reader up to
// its capacity, one chunk per turn of the decoder lock.
void TMP3Player::readAhead(std::int32_t freePercent)
{
    while (freePercent == 0) {
        {
            TMPLock lock(m_decoderLock);
            if (m_thread->Event().WaitFor(0) != MPWaitSignaled || !m_running)
                return;
            MP_ASSERT(m_stepper.reader().Attached());
            if (!m_stepper.reader().FillMore())
                return;
        }
        TMPLock lock(m_outputLock);
        freePercent = m_output->FreePercent();
    }
}

// ---- equalizer (main thread) -------------------------------------------------

void TMP3Player::SetEqualizerBandRange(std::int32_t lowHz, std::int32_t highHz)
{
    if (highHz > MaxBandFrequency || lowHz < 1 || highHz < lowHz)
        return;
    const int count = m_equalizerCount;
    m_bandFrequencies[0] = lowHz;
    for (int i = 1; i <= count - 2; ++i) {
        const double previous = m_bandFrequencies[static_cast<std::size_t>(i - 1)];
        const double next = previous * std::pow(highHz / previous, 1.0 / (count - i));
        m_bandFrequencies[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(std::lrint(next));
        MP_ASSERT(m_bandFrequencies[static_cast<std::size_t>(i)] >= m_bandFrequencies[static_cast<std::size_t>(i - 1)]);
    }
    m_bandFrequencies[static_cast<std::size_t>(count - 1)] = highHz;
    m_window.postOnce(MPMEqualizerChanged, 0, 0);
}

void TMP3Player::SetBandGain(int band, std::int32_t gain)
{
    if (band < 0 || band >= MaxBands)
        return;
    m_bandGains[static_cast<std::size_t>(band)] = gain;
    m_window.postOnce(MPMEqualizerChanged, 0, 0);
}

std::int32_t TMP3Player::SubBandCentre(int subband) const
{
    MP_ASSERT(m_sampleRate > 0 && subband >= 0 && subband < SubBands);
    return static_cast<std::int32_t>(std::lrint(m_sampleRate / 64.0 * (subband + 0.5)));
}

std::int32_t TMP3Player::LineCentre(int line) const
{
    MP_ASSERT(m_sampleRate > 0 && line >= 0 && line < Lines);
    return static_cast<std::int32_t>(std::lrint(m_sampleRate / 1152.0 * (line + 0.5)));
}

float TMP3Player::gainFactor(std::int32_t gain) { return static_cast<float>(std::pow(10.0, gain / 100.0)); }

void TMP3Player::applyEqualizer()
{
    m_window.removePending(MPMEqualizerChanged);
    if (!IsOpen())
        return;
    if (m_equalizerMode == memSubBand)
        applySubBandEqualizer();
    else
        applyFrequencyEqualizer();
    // The tables change between frames, never inside one.
    TMPLock lock(m_decoderLock);
    m_decoder->SetSubbandEqualizer(m_subBandSwitch ? m_subBandFactors.data() : nullptr);
    m_decoder->SetLineEqualizer(m_lineSwitch ? m_lineFactors.data() : nullptr);
}

// Band i is sub-band i; EqualizerCount plays no part, and Layer III streams
// are never equalised in this mode.
void TMP3Player::applySubBandEqualizer()
{
    m_subBandSwitch = m_equalizerEnabled;
    m_lineSwitch = false;
    for (int i = 0; i < SubBands; ++i)
        m_subBandFactors[static_cast<std::size_t>(i)] = gainFactor(m_bandGains[static_cast<std::size_t>(i)]);
    if (m_sampleRate > 0) {
        for (int i = 0; i < SubBands; ++i)
            m_bandFrequencies[static_cast<std::size_t>(i)] = SubBandCentre(i);
    }
}

void TMP3Player::applyFrequencyEqualizer()
{
    if (m_layerNumber != 3) {
        m_subBandSwitch = m_equalizerEnabled;
        m_lineSwitch = false;
        if (m_equalizerEnabled) {
            for (int i = 0; i < SubBands; ++i)
                m_subBandFactors[static_cast<std::size_t>(i)] =
                    gainFactor(m_bandGains[static_cast<std::size_t>(nearestBand(SubBandCentre(i)))]);
        }
        return;
    }
    m_subBandSwitch = false;
    m_lineSwitch = m_equalizerEnabled;
    if (m_equalizerEnabled) {
        for (int l = 0; l < Lines; ++l)
            m_lineFactors[static_cast<std::size_t>(l)] =
                gainFactor(m_bandGains[static_cast<std::size_t>(nearestBand(LineCentre(l)))]);
    }
}

// The band closest to `centre` on a logarithmic scale; the lower one on a tie.
int TMP3Player::nearestBand(std::int32_t centre) const
{
    int best = 0;
    float bestDistance = 2147483648.0f;
    for (int band = 0; band < m_equalizerCount; ++band) {
        const std::int32_t f = std::max(m_bandFrequencies[static_cast<std::size_t>(band)], 1);
        float distance = static_cast<float>(f) / static_cast<float>(centre);
        if (distance < 1.0f)
            distance = 1.0f / distance;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = band;
        }
    }
    return best;
}

} // namespace morvik
