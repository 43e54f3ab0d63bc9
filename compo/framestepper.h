// Opening an MPEG audio stream and stepping through it frame by frame: the
// part of the player that touches the audio data, without its threads and
// sound output, so that the player and `morvik-cli decode` share it.
//
// Opening surveys the stream (TMP3Info through a TMPStreamReader), finds the
// first frame sync after any leading wrapper or tag, checks the first frame,
// sets the decoder up for it and passes over a Xing or VBRI information
// frame. Each decode step then decodes one frame, checked against the first
// frame's header; bytes that are no frame of the stream are skipped one at a
// time, up to a limit, and a frame the decoder rejects becomes one frame of
// silence.
#pragma once

#include "compo/mp3info.h"
#include "compo/mpeg/decoder.h"
#include "compo/stream.h"
#include "compo/streamreader.h"

#include <cstdint>

namespace morvik {

class FrameStepper {
public:
    static constexpr std::int32_t ReaderCapacity = 65536;
    // One frame of 1152 stereo 16-bit samples is 4608 bytes.
    static constexpr int PcmBufferBytes = 5120;
    static constexpr std::int32_t FirstReadAhead = 4096;
    static constexpr std::int32_t ReadAheadAfterSkip = 1441;
    // Bytes skipped in a row before the rest of the stream is given up.
    static constexpr int ResyncLimit = 4096;
    static constexpr std::int32_t CutoffHz = 24000;

    explicit FrameStepper(mpeg::MpegDecoder& decoder);
    FrameStepper(const FrameStepper&) = delete;
    FrameStepper& operator=(const FrameStepper&) = delete;

    // Attaches the reader to `stream` (not owned; it must outlive the
    // stepper or the next close()) and runs the opening steps. False when the
    // stream is not MPEG audio this decoder can play ("unknown MPEG Audio
    // format." for the user). Stream errors pass through as exceptions.
    bool open(TMPStream& stream, bool seekable);
    // Detaches the reader and forgets the stream.
    void close();

    // True once the reader has passed the audio range.
    bool atEndOfAudio() const;
    // One pass of the decode step; call only before the end of the audio.
    // Returns the PCM bytes of the frame written to `pcm` (PcmBufferBytes),
    // or 0 when this pass skipped a byte or ended the audio range.
    int decodeStep(std::int16_t* pcm);
    // Decode steps until a frame comes out; 0 at the end of the audio.
    int nextFrame(std::int16_t* pcm);
    // Back to the first playable frame with fresh decoder state (the player's
    // stop). Seekable streams only.
    void rewind();

    // FrameLength: the full length (with padding) of the frame at `bytes`,
    // <= 0 when it is no frame of this stream.
    std::int32_t frameLength(const std::uint8_t* bytes, mpeg::MpegFrameHeader& header) const;

    const TMP3Info& info() const { return m_info; }
    TMP3Info& info() { return m_info; }
    TMPStreamReader& reader() { return m_reader; }
    const TMPStreamReader& reader() const { return m_reader; }
    const mpeg::MpegFrameHeader& firstHeader() const { return m_firstHeader; }
    const mpeg::OutputFormat& format() const { return m_format; }
    std::int64_t audioStart() const { return m_audioStart; }
    // Bytes of audio from audioStart(); TMP3Info::UnknownLength when not known.
    std::int64_t audioLength() const { return m_audioLength; }
    std::int64_t position() const { return m_reader.Position(); }
    // 0 when a Xing or VBRI frame marks a variable bit rate.
    std::int32_t bitRate() const { return m_bitRate; }
    bool hadVbrHeader() const { return m_vbrHeader; }
    // PCM bytes of the whole stream by its Xing or VBRI frame count; 0 when
    // the stream has no such count.
    std::int64_t totalPcmBytes() const { return m_totalPcmBytes; }
    int pcmBytesPerFrame() const { return m_pcmBytesPerFrame; }

private:
    void surveyStream(bool seekable);
    bool findFirstFrame();
    bool checkFirstFrame();
    bool setupDecoderForFrame(const mpeg::MpegFrameHeader& header, std::int32_t length);
    bool readVbrHeader();
    void endAudioAtTrailingTags();
    void skipOneByte();
    void endAudioRange() { m_audioLength = m_reader.Position() - m_audioStart; }

    mpeg::MpegDecoder& m_decoder;
    TMPStreamReader m_reader{ReaderCapacity};
    TMP3Info m_info;

    mpeg::MpegFrameHeader m_firstHeader;
    std::uint32_t m_referenceHeader = 0;
    std::int32_t m_bitRate = 0;
    std::int64_t m_audioStart = 0;
    std::int64_t m_audioLength = TMP3Info::UnknownLength;
    std::int32_t m_nextFrameLength = 0;
    mpeg::MpegFrameHeader m_nextHeader;  // parsed with m_nextFrameLength
    int m_resyncCount = 0;
    bool m_needsSetup = true;
    bool m_vbrHeader = false;
    std::int64_t m_totalPcmBytes = 0;
    mpeg::OutputFormat m_format;
    int m_pcmBytesPerFrame = 0;
};

} // namespace morvik
