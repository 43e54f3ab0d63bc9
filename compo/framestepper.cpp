#include "compo/framestepper.h"

#include "platform/bytes.h"

#include <cstring>

namespace morvik {

namespace {

int layer3SideInfoBytes(const mpeg::MpegFrameHeader& h)
{
    if (h.VersionId == 1)
        return h.Mode == 3 ? 17 : 32;
    return h.Mode == 3 ? 9 : 17;
}

// The padding slot is four bytes in Layer I, one byte in Layers II and III.
std::int32_t paddingBytes(const mpeg::MpegFrameHeader& h)
{
    return h.PaddingBit * (mpeg::layerNumber(h) == 1 ? 4 : 1);
}

} // namespace

FrameStepper::FrameStepper(mpeg::MpegDecoder& decoder) : m_decoder(decoder) {}

bool FrameStepper::open(TMPStream& stream, bool seekable)
{
    close();
    try {
        m_reader.Attach(&stream, seekable);
        surveyStream(seekable);
        if (findFirstFrame() && checkFirstFrame()) {
            m_format = m_decoder.GetOutputFormat();
            m_pcmBytesPerFrame = m_format.samplesPerFrame * m_format.bitsPerSample / 8;
            if (readVbrHeader()) {
                endAudioAtTrailingTags();
                return true;
            }
        }
    } catch (...) {
        close();
        throw;
    }
    close();
    return false;
}

void FrameStepper::close()
{
    m_reader.Detach();
    m_info.Reset();
    m_firstHeader = {};
    m_referenceHeader = 0;
    m_bitRate = 0;
    m_audioStart = 0;
    m_audioLength = TMP3Info::UnknownLength;
    m_nextFrameLength = 0;
    m_nextHeader = {};
    m_resyncCount = 0;
    m_needsSetup = true;
    m_vbrHeader = false;
    m_totalPcmBytes = 0;
    m_format = {};
    m_pcmBytesPerFrame = 0;
}

// Where the audio lies: after any MacBinary header, RIFF header and ID3v2
// tag; up to the end of the RIFF data, MacBinary data fork or stream.
void FrameStepper::surveyStream(bool seekable)
{
    m_info.SetReader(&m_reader);
    m_info.ReadLeading();
    if (seekable) {
        m_info.ReadTrailing();
        m_reader.Seek(m_info.AudioStart(), soFromBeginning);
    }
    m_audioStart = m_info.AudioStart();
    m_audioLength = m_info.AudioLength();
}

// The first sync pattern among the first buffered bytes; the audio starts
// there.
bool FrameStepper::findFirstFrame()
{
    m_reader.Need(FirstReadAhead);
    std::int32_t skipped = 0;
    if (mpeg::FindFrameSync(m_reader.Data(), m_reader.Contiguous(), m_firstHeader, m_bitRate, skipped) <= 0)
        return false;
    if (skipped == 0)
        return true;
    m_audioStart += skipped;
    if (m_audioLength != TMP3Info::UnknownLength)
        m_audioLength -= skipped;
    if (!m_reader.Skip(skipped))
        return false;
    m_reader.Need(ReadAheadAfterSkip);
    return m_reader.Contiguous() >= 4;
}

// The first frame's header becomes the reference every later frame must
// match; the frame must be complete and acceptable to the decoder.
bool FrameStepper::checkFirstFrame()
{
    m_referenceHeader = mpeg::headerWord(m_reader.Data());
    m_nextFrameLength = frameLength(m_reader.Data(), m_nextHeader);
    if (m_nextFrameLength <= 0 || m_nextHeader.LayerCode < 1 || m_nextHeader.LayerCode > 3)
        return false;
    return m_reader.Need(m_nextFrameLength) && setupDecoderForFrame(m_firstHeader, m_nextFrameLength);
}

std::int32_t FrameStepper::frameLength(const std::uint8_t* bytes, mpeg::MpegFrameHeader& header) const
{
    // No byte count: a free-format header gives 0, so such streams never open.
    const std::int32_t length = mpeg::ParseFrameHeader(bytes, 0, header);
    if (length <= 0)
        return length;
    if (header.LayerCode < 1 || header.LayerCode > 3)
        return 0;
    if (!mpeg::HeadersMatch(m_referenceHeader, mpeg::headerWord(bytes)))
        return 0;
    return length + paddingBytes(header);
}

bool FrameStepper::setupDecoderForFrame(const mpeg::MpegFrameHeader& header, std::int32_t length)
{
    if (!m_decoder.SetupStream(header, length - paddingBytes(header), 0, 0, mpeg::OutputBoth, CutoffHz))
        return false;
    m_needsSetup = false;
    m_resyncCount = 0;
    return true;
}

// A Xing or VBRI header after the side information of the first Layer III
// frame: its counts replace the audio length and give the total PCM; the
// frame itself carries no audio and is passed over. False when that frame
// cannot be passed over.
bool FrameStepper::readVbrHeader()
{
    int offset = 4 + layer3SideInfoBytes(m_firstHeader);
    if (m_firstHeader.ProtectionBit == 0)
        offset += 2;
    if (mpeg::layerNumber(m_firstHeader) != 3 || offset + 18 > m_nextFrameLength)
        return true;
    const std::uint8_t* p = m_reader.Data() + offset;
    if (std::memcmp(p, "Xing", 4) == 0) {
        m_bitRate = 0;
        const std::uint32_t flags = bytes::bigEndian32(p + 4);
        int next = 8;
        if (flags & 1) {
            const std::uint32_t frames = bytes::bigEndian32(p + 8);
            if (frames > 0)
                m_totalPcmBytes = (std::int64_t{frames} - 1) * m_pcmBytesPerFrame;
            next += 4;
        }
        if ((flags & 2) && offset + next + 4 <= m_nextFrameLength) {
            const std::uint32_t count = bytes::bigEndian32(p + next);
            if (count > 0 && count <= 0x7FFFFFFF)
                m_audioLength = count;
        }
    } else if (std::memcmp(p, "VBRI", 4) == 0) {
        m_bitRate = 0;
        const std::uint32_t count = bytes::bigEndian32(p + 10);
        if (count > 0 && count <= 0x7FFFFFFF)
            m_audioLength = count;
        const std::uint32_t frames = bytes::bigEndian32(p + 14);
        if (frames > 0)
            m_totalPcmBytes = (std::int64_t{frames} - 1) * m_pcmBytesPerFrame;
    } else {
        return true;
    }
    m_vbrHeader = true;
    if (!m_reader.Skip(m_nextFrameLength))
        return false;
    m_audioStart += m_nextFrameLength;
    if (m_audioLength != TMP3Info::UnknownLength)
        m_audioLength -= m_nextFrameLength;
    m_nextFrameLength = 0;
    return true;
}

// The survey counts an ID3v1 record, and a Lyrics3 block before it, into the
// audio range. Neither is audio: the range ends where the first of them
// begins, instead of resynchronising over their bytes (which may even hold
// what looks like a frame).
void FrameStepper::endAudioAtTrailingTags()
{
    auto endAt = [this](std::int64_t tagStart) {
        if (tagStart >= m_audioStart && tagStart - m_audioStart < m_audioLength)
            m_audioLength = tagStart - m_audioStart;
    };
    if (m_info.InfoTypes().Has(mitID3V1))
        endAt(m_info.Id3v1Position());
    if (m_info.InfoTypes().Has(mitLyrics))
        endAt(m_info.LyricsPosition());
}

bool FrameStepper::atEndOfAudio() const
{
    return m_reader.Position() - m_audioStart >= m_audioLength;
}

void FrameStepper::skipOneByte()
{
    // The length, if any, was that of a frame starting at the byte skipped.
    m_nextFrameLength = 0;
    if (m_resyncCount >= ResyncLimit || !m_reader.Skip(1)) {
        endAudioRange();
        return;
    }
    ++m_resyncCount;
}

int FrameStepper::decodeStep(std::int16_t* pcm)
{
    if (m_nextFrameLength <= 0) {
        if (!m_reader.Need(4)) {
            endAudioRange();
            return 0;
        }
        m_nextFrameLength = frameLength(m_reader.Data(), m_nextHeader);
        if (m_nextFrameLength <= 0) {
            skipOneByte();
            return 0;
        }
    }
    if (m_needsSetup && !setupDecoderForFrame(m_nextHeader, m_nextFrameLength)) {
        skipOneByte();
        return 0;
    }
    if (!m_reader.Need(m_nextFrameLength)) {
        endAudioRange();
        return 0;
    }
    const mpeg::FrameDecodeResult r = m_decoder.DecodeFrame(m_reader.Data(), m_nextFrameLength, pcm);
    m_reader.Skip(m_nextFrameLength);
    m_nextFrameLength = 0;
    m_resyncCount = 0;
    if (r.frameBytes <= 0)
        std::memset(pcm, 0, static_cast<std::size_t>(m_pcmBytesPerFrame));
    return m_pcmBytesPerFrame;
}

int FrameStepper::nextFrame(std::int16_t* pcm)
{
    while (!atEndOfAudio()) {
        if (const int pcmBytes = decodeStep(pcm))
            return pcmBytes;
    }
    return 0;
}

void FrameStepper::rewind()
{
    m_reader.Seek(m_audioStart, soFromBeginning);
    m_nextFrameLength = 0;
    m_needsSetup = true;
}

} // namespace morvik
