#include "compo/framestepper.h"

#include <algorithm>
#include <cstring>

namespace morvik::mpeg {

namespace {

constexpr std::int64_t kBufferSize = 65536;

std::uint32_t bigEndian32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

int layer3SideInfoBytes(const MpegFrameHeader& h)
{
    if (h.VersionId == 1)
        return h.Mode == 3 ? 17 : 32;
    return h.Mode == 3 ? 9 : 17;
}

std::int32_t paddingBytes(const MpegFrameHeader& h)
{
    return h.PaddingBit * (layerNumber(h) == 1 ? 4 : 1);
}

} // namespace

std::int64_t StdioByteSource::read(std::uint8_t* dest, std::int64_t n)
{
    return static_cast<std::int64_t>(std::fread(dest, 1, static_cast<std::size_t>(n), m_file));
}

std::int64_t MemoryByteSource::read(std::uint8_t* dest, std::int64_t n)
{
    const std::int64_t count = std::min(n, m_size - m_position);
    if (count <= 0)
        return 0;
    std::memcpy(dest, m_data + m_position, static_cast<std::size_t>(count));
    m_position += count;
    return count;
}

FrameStepper::FrameStepper(ByteSource& source, MpegDecoder& decoder)
    : m_source(source), m_decoder(decoder), m_buffer(kBufferSize)
{
}

bool FrameStepper::need(std::int64_t n)
{
    if (n > kBufferSize)
        return false;
    if (contiguous() >= n)
        return true;
    if (m_head + n > kBufferSize) {
        std::memmove(m_buffer.data(), m_buffer.data() + m_head, static_cast<std::size_t>(contiguous()));
        m_tail -= m_head;
        m_head = 0;
    }
    while (contiguous() < n && !m_sourceEnded) {
        const std::int64_t got = m_source.read(m_buffer.data() + m_tail, kBufferSize - m_tail);
        if (got <= 0)
            m_sourceEnded = true;
        m_tail += std::max<std::int64_t>(got, 0);
    }
    return contiguous() >= n;
}

bool FrameStepper::skip(std::int64_t n)
{
    while (n > 0) {
        if (contiguous() == 0 && !need(1))
            return false;
        const std::int64_t step = std::min(n, contiguous());
        m_head += step;
        m_position += step;
        n -= step;
    }
    return true;
}

void FrameStepper::skipId3v2()
{
    // "ID3", version, flags, four 7-bit size bytes; a footer adds 10 bytes.
    if (!need(10))
        return;
    const std::uint8_t* p = data();
    if (std::memcmp(p, "ID3", 3) != 0 || p[3] == 0xFF || p[4] == 0xFF || ((p[6] | p[7] | p[8] | p[9]) & 0x80))
        return;
    std::int64_t size = (std::int64_t{p[6]} << 21) | (p[7] << 14) | (p[8] << 7) | p[9];
    size += 10;
    if (p[5] & 0x10)
        size += 10;
    skip(size);
    m_audioStart = m_position;
}

std::int32_t FrameStepper::frameLength(const std::uint8_t* bytes, MpegFrameHeader& header) const
{
    const std::int32_t length = ParseFrameHeader(bytes, 0, header);
    if (length <= 0)
        return length;
    if (header.LayerCode < 1 || header.LayerCode > 3)
        return 0;
    if (!HeadersMatch(m_referenceHeader, headerWord(bytes)))
        return 0;
    return length + paddingBytes(header);
}

bool FrameStepper::open()
{
    skipId3v2();
    need(kFirstReadAhead);
    if (contiguous() < 4)
        return false;
    std::int32_t skipped = 0;
    if (FindFrameSync(data(), static_cast<std::int32_t>(contiguous()), m_firstHeader, m_bitRate, skipped) <= 0)
        return false;
    if (skipped > 0) {
        m_audioStart += skipped;
        if (!skip(skipped))
            return false;
        need(kReadAheadAfterSkip);
        if (contiguous() < 4)
            return false;
    }
    m_referenceHeader = headerWord(data());
    MpegFrameHeader header;
    m_nextFrameLength = frameLength(data(), header);
    if (m_nextFrameLength <= 0 || header.LayerCode < 1 || header.LayerCode > 3)
        return false;
    if (!need(m_nextFrameLength))
        return false;
    if (!m_decoder.SetupStream(m_firstHeader, m_nextFrameLength - paddingBytes(m_firstHeader)))
        return false;
    m_format = m_decoder.GetOutputFormat();
    m_pcmBytesPerFrame = m_format.samplesPerFrame * m_format.bitsPerSample / 8;
    readVbrHeader();
    return true;
}

void FrameStepper::readVbrHeader()
{
    int offset = 4 + layer3SideInfoBytes(m_firstHeader);
    if (m_firstHeader.ProtectionBit == 0)
        offset += 2;
    if (layerNumber(m_firstHeader) != 3 || offset + 18 > m_nextFrameLength)
        return;
    const std::uint8_t* p = data() + offset;
    if (std::memcmp(p, "Xing", 4) == 0) {
        m_bitRate = 0;
        const std::uint32_t flags = bigEndian32(p + 4);
        int next = 8;
        if (flags & 1) {
            const std::uint32_t frames = bigEndian32(p + 8);
            if (frames > 0)
                m_totalPcmBytes = (std::int64_t{frames} - 1) * m_pcmBytesPerFrame;
            next += 4;
        }
        if ((flags & 2) && offset + next + 4 <= m_nextFrameLength) {
            const std::uint32_t bytes = bigEndian32(p + next);
            if (bytes > 0 && bytes <= 0x7FFFFFFF)
                m_audioLength = bytes;
        }
    } else if (std::memcmp(p, "VBRI", 4) == 0) {
        m_bitRate = 0;
        const std::uint32_t bytes = bigEndian32(p + 10);
        if (bytes > 0 && bytes <= 0x7FFFFFFF)
            m_audioLength = bytes;
        const std::uint32_t frames = bigEndian32(p + 14);
        if (frames > 0)
            m_totalPcmBytes = (std::int64_t{frames} - 1) * m_pcmBytesPerFrame;
    } else {
        return;
    }
    m_vbrHeader = true;
    skip(m_nextFrameLength);
    m_audioStart += m_nextFrameLength;
    if (m_audioLength != kUnknownLength)
        m_audioLength -= m_nextFrameLength;
    m_nextFrameLength = 0;
}

bool FrameStepper::skipOneByte()
{
    if (m_resyncCount >= kResyncLimit || !skip(1)) {
        endAudioRange();
        return false;
    }
    ++m_resyncCount;
    return true;
}

int FrameStepper::step(std::int16_t* pcm)
{
    for (;;) {
        if (m_position - m_audioStart >= m_audioLength)
            return 0;
        if (m_nextFrameLength <= 0) {
            if (!need(4)) {
                endAudioRange();
                continue;
            }
            MpegFrameHeader header;
            m_nextFrameLength = frameLength(data(), header);
            if (m_nextFrameLength <= 0) {
                skipOneByte();
                continue;
            }
        }
        if (!need(m_nextFrameLength)) {
            endAudioRange();
            continue;
        }
        const FrameDecodeResult r =
            m_decoder.DecodeFrame(data(), m_nextFrameLength, pcm);
        skip(m_nextFrameLength);
        m_nextFrameLength = 0;
        m_resyncCount = 0;
        if (r.frameBytes <= 0)
            std::memset(pcm, 0, static_cast<std::size_t>(m_pcmBytesPerFrame));
        return m_pcmBytesPerFrame;
    }
}

} // namespace morvik::mpeg
