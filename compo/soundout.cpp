#include "compo/soundout.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <limits>
#include <thread>

#include "compo/mpassert.h"
#include "platform/posixfile.h"

namespace morvik {

using namespace waveout;

namespace {

constexpr std::size_t WaveHeaderSize = 44;
constexpr std::size_t ErrorTextLength = 128;

void putLe16(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void putLe32(std::uint8_t* p, std::uint32_t v)
{
    putLe16(p, v & 0xFFFF);
    putLe16(p + 2, v >> 16);
}

std::array<std::uint8_t, WaveHeaderSize> waveHeader(const WAVEFORMATEX& f)
{
    std::array<std::uint8_t, WaveHeaderSize> h{};
    std::memcpy(h.data(), "RIFF", 4);
    std::memcpy(h.data() + 8, "WAVEfmt ", 8);
    putLe32(h.data() + 16, 16);
    putLe16(h.data() + 20, f.wFormatTag);
    putLe16(h.data() + 22, f.nChannels);
    putLe32(h.data() + 24, f.nSamplesPerSec);
    putLe32(h.data() + 28, f.nAvgBytesPerSec);
    putLe16(h.data() + 32, f.nBlockAlign);
    putLe16(h.data() + 34, f.wBitsPerSample);
    std::memcpy(h.data() + 36, "data", 4);
    return h; // both sizes stay 0 until the file is finished
}

EMPError fileError(int err, const char* label)
{
    return EMPError(systemErrorText(err) + "(" + label + ")");
}

} // namespace

TSoundOut::TSoundOut(WaveOut& wave) : m_waveOut(wave)
{
    m_volume = getWaveVolume();
    m_thread = std::make_unique<TMPLoopThread>(this);
    m_thread->SetOnException(
        [this](TMPLoopThread*, const std::exception& e, bool& handled) { offerException(e, handled); });
    m_thread->Resume();
}

TSoundOut::~TSoundOut()
{
    try {
        Close();
    } catch (const std::exception& e) {
        MPShowException(e);
    }
    // Join first: the thread may still be finishing its last message.
    m_thread->Terminate();
    m_thread.reset();
}

void TSoundOut::offerException(const std::exception& e, bool& handled)
{
    TExceptionEvent handler;
    {
        std::lock_guard lock(m_handlerMutex);
        handler = m_onException;
    }
    if (handler)
        handler(this, e, handled);
}

void TSoundOut::SetOnPosition(TPositionEvent handler)
{
    std::lock_guard lock(m_handlerMutex);
    m_onPosition = std::move(handler);
}

void TSoundOut::SetOnException(TExceptionEvent handler)
{
    std::lock_guard lock(m_handlerMutex);
    m_onException = std::move(handler);
}

void TSoundOut::SetSampleRate(std::int32_t rate)
{
    if (rate > 0)
        m_sampleRate = rate;
}

void TSoundOut::SetChannels(std::int32_t channels)
{
    if (channels == 1 || channels == 2)
        m_channels = channels;
}

void TSoundOut::SetBits(std::int32_t bits)
{
    if (bits == 8 || bits == 16)
        m_bits = bits;
}

void TSoundOut::SetVolume(std::int32_t volume)
{
    if (volume < 0 || volume > 100)
        return;
    m_volume = volume;
    if (m_opened && m_device)
        setVolumeToWaveDevice();
}

void TSoundOut::SetBalance(std::int32_t balance)
{
    if (balance < -100 || balance > 100)
        return;
    m_balance = balance;
    if (m_opened && m_device)
        setVolumeToWaveDevice();
}

void TSoundOut::SetWaveFileName(const std::string& name)
{
    if (!m_opened)
        m_waveFileName = name;
}

WAVEFORMATEX TSoundOut::pcmFormat() const
{
    WAVEFORMATEX f;
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = static_cast<std::uint16_t>(m_channels);
    f.nSamplesPerSec = static_cast<std::uint32_t>(m_sampleRate);
    f.nBlockAlign = static_cast<std::uint16_t>(m_channels * m_bits / 8);
    f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
    f.wBitsPerSample = static_cast<std::uint16_t>(m_bits);
    f.cbSize = 0;
    return f;
}

void TSoundOut::Open()
{
    if (m_opened)
        return;
    m_opened = true;
    try {
        // Start from an idle state, so that a failure below can close again
        // without waiting for blocks that were never queued.
        {
            TMPLock lock(m_blockLock);
            m_current = 0;
            m_filled = 0;
        }
        m_queued = 0;
        m_lastNotify = MPTickCount();
        m_idleEvent.Signal();
        if (!m_waveFileName.empty())
            openFile();
        else
            openDevice();
    } catch (...) {
        try {
            Close();
        } catch (const std::exception&) {
            // The first failure is the one to report.
        }
        throw;
    }
}

void TSoundOut::allocateBlocks()
{
    std::int64_t size = std::int64_t{m_sampleRate} * m_channels * (m_bits / 8) * BufferedMilliseconds / 1000 / BlockCount;
    size = (size + 3) / 4 * 4;
    if (size <= 0 || size > std::numeric_limits<std::int32_t>::max())
        throw EMPError("sample rate out of range(TSoundOut.Open)");
    TMPLock lock(m_blockLock);
    m_blockSize = static_cast<std::int32_t>(size);
    for (int i = 0; i < BlockCount; ++i) {
        m_blocks[i] = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(size));
        m_headers[i] = WAVEHDR{};
        m_headers[i].lpData = m_blocks[i].get();
        m_headers[i].dwBufferLength = static_cast<std::uint32_t>(size);
    }
}

void TSoundOut::releaseBlocks()
{
    TMPLock lock(m_blockLock);
    for (int i = 0; i < BlockCount; ++i) {
        m_blocks[i].reset();
        m_headers[i] = WAVEHDR{};
    }
    m_filled = 0;
}

void TSoundOut::openDevice()
{
    HWAVEOUT device = nullptr;
    checkWaveResult(m_waveOut.open(&device, DeviceId, pcmFormat(),
                                   [this](WAVEHDR* header) {
                                       m_thread->Post(MM_WOM_DONE, 0, reinterpret_cast<std::intptr_t>(header));
                                   }),
                    "TSoundOut.Open:WaveOutOpen");
    {
        TMPLock lock(m_blockLock);
        m_device = device;
    }
    setVolumeToWaveDevice();
    allocateBlocks();
    for (auto& header : m_headers)
        checkWaveResult(m_waveOut.prepareHeader(m_device, &header), "TSoundOut.Open:WaveOutPreperHeader");
    m_thread->SetTimeout(NotifyInterval);
}

void TSoundOut::openFile()
{
    auto file = std::make_unique<PosixFile>(PosixFile::create(m_waveFileName));
    if (!file->valid())
        throw fileError(file->lastError(), "TSoundOut.Open:CreateWaveFile");
    const auto header = waveHeader(pcmFormat());
    if (!file->write(header.data(), header.size()))
        throw fileError(file->lastError(), "TSoundOut.Open:CreateWaveFile");
    m_waveFile = std::move(file);
    m_fileMode = true;
    allocateBlocks();
}

void TSoundOut::Close()
{
    if (!m_opened)
        return;
    {
        TMPLock lock(m_notifyLock);
        m_freeEvent = nullptr;
    }
    std::exception_ptr failure;
    try {
        if (m_fileMode)
            finishFile();
        else if (m_device)
            closeDevice();
    } catch (...) {
        failure = std::current_exception();
    }
    releaseBlocks();
    m_fileMode = false;
    m_paused = false;
    m_opened = false;
    if (failure)
        std::rethrow_exception(failure);
}

void TSoundOut::closeDevice()
{
    m_thread->SetTimeout(MPInfinite);
    // A paused device would hold its blocks for ever; give them back.
    if (m_paused)
        Reset();
    Flush();
    WaitAllDone();
    for (auto& header : m_headers) {
        if (!header.lpData)
            continue;
        while (m_waveOut.unprepareHeader(m_device, &header) == WAVERR_STILLPLAYING)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const MMRESULT closed = m_waveOut.close(m_device);
    if (closed == MMSYSERR_NOERROR) {
        TMPLock lock(m_blockLock);
        m_device = nullptr;
    }
    checkWaveResult(closed, "TSoundOut.Close:WaveOutClose");
}

void TSoundOut::finishFile()
{
    m_thread->SetTimeout(MPInfinite);
    std::exception_ptr failure;
    try {
        Flush();
        WaitAllDone();
    } catch (...) {
        failure = std::current_exception();
    }
    std::unique_ptr<PosixFile> file = std::move(m_waveFile);
    m_fileMode = false;
    if (failure)
        std::rethrow_exception(failure);
    const std::int64_t length = file->size();
    if (length < 0)
        throw fileError(file->lastError(), "TSoundOut.Close:WaveFile");
    // RIFF sizes are 32-bit; a longer file keeps the largest value.
    auto sizeField = [](std::int64_t v) {
        return static_cast<std::uint32_t>(std::clamp<std::int64_t>(v, 0, std::numeric_limits<std::uint32_t>::max()));
    };
    std::uint8_t field[4];
    putLe32(field, sizeField(length - 8));
    bool ok = file->writeAt(4, field, 4);
    putLe32(field, sizeField(length - static_cast<std::int64_t>(WaveHeaderSize)));
    ok = ok && file->writeAt(40, field, 4);
    const int err = file->lastError();
    if (!file->close() && ok)
        throw fileError(file->lastError(), "TSoundOut.Close:WaveFile");
    if (!ok)
        throw fileError(err, "TSoundOut.Close:WaveFile");
}

std::int32_t TSoundOut::Write(const void* data, std::int32_t length)
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::int32_t taken = 0;
    while (length > 0 && CanWrite()) {
        TMPLock lock(m_blockLock);
        if (!CanWrite())
            break;
        const std::int32_t n = std::min(m_blockSize - m_filled, length);
        std::memcpy(m_blocks[m_current].get() + m_filled, bytes + taken, static_cast<std::size_t>(n));
        m_filled += n;
        if (m_filled == m_blockSize)
            waveWrite();
        taken += n;
        length -= n;
    }
    return taken;
}

bool TSoundOut::CanWrite()
{
    TMPLock lock(m_blockLock);
    return m_opened && m_blocks[0] && m_queued < BlockCount && m_filled < m_blockSize;
}

std::int32_t TSoundOut::FreePercent()
{
    if (!m_opened)
        return 0;
    std::int64_t queued = 0;
    std::int64_t filled = 0;
    std::int64_t blockSize = 0;
    {
        TMPLock lock(m_blockLock);
        queued = m_queued;
        filled = m_filled;
        blockSize = m_blockSize;
    }
    if (blockSize <= 0)
        return 0;
    const std::int64_t freeBytes = (BlockCount - queued - 1) * blockSize + (blockSize - filled);
    return static_cast<std::int32_t>(std::max<std::int64_t>(freeBytes, 0) * 100 / (BlockCount * blockSize));
}

void TSoundOut::undoQueued()
{
    if (--m_queued == 0)
        m_idleEvent.Signal();
}

void TSoundOut::waveWrite()
{
    TMPLock lock(m_blockLock);
    const std::int32_t queued = ++m_queued;
    m_idleEvent.Reset();
    if (queued > BlockCount) {
        undoQueued();
        MP_ASSERT(queued <= BlockCount);
    }
    WAVEHDR& header = m_headers[m_current];
    header.dwBufferLength = static_cast<std::uint32_t>(m_filled);
    m_filled = 0;
    if (m_fileMode) {
        m_thread->Post(MPMWriteBlock, 0, m_current);
    } else {
        if (!m_device) {
            undoQueued();
            MP_ASSERT(m_device != nullptr);
        }
        const MMRESULT result = m_waveOut.write(m_device, &header);
        if (result != MMSYSERR_NOERROR) {
            // The block never reached the device, so no completion will
            // come for it.
            undoQueued();
            checkWaveResult(result, "TSoundOut.WaveWrite");
        }
    }
    m_current = (m_current + 1) % BlockCount;
}

void TSoundOut::Flush()
{
    if (!m_opened)
        return;
    {
        TMPLock lock(m_blockLock);
        if (m_filled <= 0)
            return;
        waveWrite();
    }
    m_thread->Sync();
}

void TSoundOut::WaitAllDone() { MPWaitForAny({&m_idleEvent, &m_thread->Ended()}, MPInfinite); }

void TSoundOut::NotifyWhenFree(TMPEvent* event)
{
    {
        TMPLock lock(m_notifyLock);
        m_freeEvent = event;
    }
    notifyFree();
}

void TSoundOut::notifyFree()
{
    const bool room = CanWrite(); // takes and leaves the block lock first
    TMPLock lock(m_notifyLock);
    if (m_freeEvent && room) {
        m_freeEvent->Signal();
        m_freeEvent = nullptr;
    }
}

void TSoundOut::Pause()
{
    if (!m_opened || m_fileMode || !m_device)
        return;
    checkWaveResult(m_waveOut.pause(m_device), "TSoundOut.Pause");
    m_paused = true;
}

void TSoundOut::Unpause()
{
    if (!m_opened || m_fileMode || !m_device)
        return;
    checkWaveResult(m_waveOut.restart(m_device), "TSoundOut.Unpause");
    m_paused = false;
}

void TSoundOut::Reset()
{
    if (!m_opened || m_fileMode || !m_device)
        return;
    {
        TMPLock lock(m_blockLock);
        m_filled = 0;
    }
    checkWaveResult(m_waveOut.reset(m_device), "TSoundOut.Reset");
}

void TSoundOut::Dispatch(TMPMessage& message)
{
    switch (message.Msg) {
    case MM_WOM_DONE:
        blockDone();
        break;
    case MPMWriteBlock:
        writeBlockToFile(static_cast<std::int32_t>(message.LParam));
        break;
    case MPMTimeout:
        if (!m_fileMode)
            checkPosition();
        break;
    default:
        break;
    }
}

void TSoundOut::blockDone()
{
    const std::int32_t queued = --m_queued;
    if (queued > 0) {
        m_thread->SetTimeout(NotifyInterval);
    } else {
        m_idleEvent.Signal();
        m_thread->SetTimeout(MPInfinite);
    }
    MP_ASSERT(queued >= 0);
    notifyFree();
    if (!m_fileMode)
        checkPosition();
}

void TSoundOut::writeBlockToFile(std::int32_t index)
{
    MP_ASSERT(m_waveFile != nullptr);
    MP_ASSERT(index >= 0 && index < BlockCount);
    const bool written = m_waveFile->write(m_blocks[index].get(), m_headers[index].dwBufferLength);
    const int err = m_waveFile->lastError();
    checkPosition();
    // The block comes back even when the write failed, so Close does not
    // wait for it for ever.
    blockDone();
    if (!written)
        throw fileError(err, "TSoundOut.WriteBlock");
}

void TSoundOut::checkPosition()
{
    TPositionEvent handler;
    {
        std::lock_guard lock(m_handlerMutex);
        handler = m_onPosition;
    }
    const std::int32_t interval = NotifyInterval;
    if (!handler || interval == -1)
        return;
    const std::uint32_t now = MPTickCount();
    if (now - m_lastNotify.load() > static_cast<std::uint32_t>(interval)) {
        handler(this);
        m_lastNotify = now;
    }
}

void TSoundOut::setVolumeToWaveDevice()
{
    const std::int64_t base = (std::int64_t{m_volume} * 65535 + 50) / 100;
    std::int64_t left = base;
    std::int64_t right = base;
    if (m_balance >= -100 && m_balance <= -1)
        right = (base * (100 + m_balance) + 50) / 100;
    else if (m_balance >= 1 && m_balance <= 100)
        left = (base * (100 - m_balance) + 50) / 100;
    const auto word = static_cast<std::uint32_t>(left) | static_cast<std::uint32_t>(right) << 16;
    const MMRESULT result = m_waveOut.setVolume(m_device, word);
    if (result != MMSYSERR_NOTSUPPORTED)
        checkWaveResult(result, "TSoundOut.SetVolumeToWaveDevice");
}

std::int32_t TSoundOut::getWaveVolume()
{
    auto readVolume = [this](int deviceId, std::uint32_t* volume) {
        HWAVEOUT device = nullptr;
        if (m_waveOut.open(&device, deviceId, pcmFormat(), {}) != MMSYSERR_NOERROR)
            return false;
        const MMRESULT result = m_waveOut.getVolume(device, volume);
        m_waveOut.close(device);
        checkWaveResult(result, "TSoundOut.GetWaveVolume");
        return true;
    };
    try {
        std::uint32_t volume = 0;
        if (readVolume(DeviceId, &volume) || (m_waveOut.getNumDevs() > 0 && readVolume(0, &volume))) {
            const std::uint32_t loudest = std::max(volume & 0xFFFF, volume >> 16);
            return static_cast<std::int32_t>((loudest * 100 + 32767) / 65535);
        }
    } catch (const std::exception&) {
        // Without a readable device the volume stays at its full default.
    }
    return 100;
}

void TSoundOut::checkWaveResult(MMRESULT result, const char* label)
{
    if (result == MMSYSERR_NOERROR)
        return;
    char text[ErrorTextLength] = {};
    std::string message = waveOutGetErrorText(result, text, sizeof text) == MMSYSERR_NOERROR
                              ? std::string(text)
                              : std::string("unknown wave out API error.");
    throw EMPError(message + "(" + label + ")");
}

} // namespace morvik
