// Opening an MPEG audio stream and stepping through it frame by frame, as
// the player does: pass over an ID3v2 tag, find the first sync, check the
// first frame, pass over a Xing or VBRI information frame, then decode one
// frame per step with the reference-header check, byte-wise
// resynchronisation and one frame of silence for a rejected frame.
#pragma once

#include "compo/mpeg/decoder.h"

#include <cstdint>
#include <cstdio>
#include <limits>
#include <vector>

namespace morvik::mpeg {

// A forward-only source of bytes.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to n bytes; returns how many were read (0 at the end).
    virtual std::int64_t read(std::uint8_t* dest, std::int64_t n) = 0;
};

class StdioByteSource : public ByteSource {
public:
    explicit StdioByteSource(std::FILE* file) : m_file(file) {}
    std::int64_t read(std::uint8_t* dest, std::int64_t n) override;

private:
    std::FILE* m_file;
};

class MemoryByteSource : public ByteSource {
public:
    MemoryByteSource(const std::uint8_t* data, std::int64_t size) : m_data(data), m_size(size) {}
    std::int64_t read(std::uint8_t* dest, std::int64_t n) override;

private:
    const std::uint8_t* m_data;
    std::int64_t m_size;
    std::int64_t m_position = 0;
};

class FrameStepper {
public:
    static constexpr int kResyncLimit = 4096;
    static constexpr int kFirstReadAhead = 4096;
    static constexpr int kReadAheadAfterSkip = 1441;
    static constexpr int kPcmBufferBytes = 5120;
    static constexpr std::int64_t kUnknownLength = std::numeric_limits<std::int64_t>::max();

    FrameStepper(ByteSource& source, MpegDecoder& decoder);

    // False when the stream is not MPEG audio this decoder can play.
    bool open();
    // Decodes the next frame into pcm (kPcmBufferBytes); returns the PCM
    // bytes of the frame, 0 at the end of the audio.
    int step(std::int16_t* pcm);

    const OutputFormat& format() const { return m_format; }
    std::int64_t audioStart() const { return m_audioStart; }
    std::int32_t bitRate() const { return m_bitRate; }
    bool hadVbrHeader() const { return m_vbrHeader; }
    // Bytes of audio from audioStart(); kUnknownLength when not known.
    std::int64_t audioLength() const { return m_audioLength; }
    // PCM bytes of the whole stream by its Xing or VBRI frame count; 0 when
    // the stream has no such count.
    std::int64_t totalPcmBytes() const { return m_totalPcmBytes; }
    std::int64_t position() const { return m_position; }

    // FrameLength of the decode step: the full length (with padding) of the
    // frame at `bytes`, <= 0 when it is no frame of this stream.
    std::int32_t frameLength(const std::uint8_t* bytes, MpegFrameHeader& header) const;

private:
    bool need(std::int64_t n);  // makes n bytes contiguous at data()
    const std::uint8_t* data() const { return m_buffer.data() + m_head; }
    std::int64_t contiguous() const { return m_tail - m_head; }
    bool skip(std::int64_t n);
    void skipId3v2();
    void readVbrHeader();
    bool skipOneByte();  // false once the resynchronisation limit is reached
    void endAudioRange() { m_audioLength = m_position - m_audioStart; }

    ByteSource& m_source;
    MpegDecoder& m_decoder;
    std::vector<std::uint8_t> m_buffer;
    std::int64_t m_head = 0;
    std::int64_t m_tail = 0;
    bool m_sourceEnded = false;
    std::int64_t m_position = 0;  // stream offset of data()

    MpegFrameHeader m_firstHeader;
    std::uint32_t m_referenceHeader = 0;
    std::int32_t m_bitRate = 0;
    std::int64_t m_audioStart = 0;
    std::int64_t m_audioLength = kUnknownLength;
    std::int32_t m_nextFrameLength = 0;
    int m_resyncCount = 0;
    bool m_vbrHeader = false;
    std::int64_t m_totalPcmBytes = 0;
    OutputFormat m_format;
    int m_pcmBytesPerFrame = 0;
};

} // namespace morvik::mpeg
