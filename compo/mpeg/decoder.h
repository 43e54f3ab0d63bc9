// The MPEG audio decoder: stream set-up, per-frame decode to 16-bit PCM and
// the output format. The player keeps one instance and uses it under its
// decoder lock; tests make their own. Decoding a frame neither allocates nor
// throws: corrupt data gives silence or a rejected frame.
#pragma once

#include "compo/mpeg/mpegheader.h"
#include "compo/mpeg/output.h"

#include <cstdint>
#include <memory>

namespace morvik::mpeg {

struct Layer3State;
struct Layer12State;
struct SynthesisState;

struct OutputFormat {
    std::int32_t channels = 0;  // 1 or 2
    std::int32_t samplesPerFrame = 0;  // over all output channels
    std::int32_t sampleRate = 0;  // Hz
    std::int32_t bitsPerSample = 16;
    std::int32_t frameLengthHint = 0;
    std::int32_t reserved = 0;
};

// Output-flag bits 0-1: which channels of a stereo stream come out (the
// values of ChannelChoice).
enum OutputFlags : std::uint8_t { OutputBoth = 0, OutputMonoMix = 1, OutputLeftOnly = 2, OutputRightOnly = 3 };

// Largest PCM output of one frame: 1152 stereo 16-bit samples.
constexpr int kMaxPcmBytesPerFrame = 1152 * 2 * 2;

class MpegDecoder {
public:
    MpegDecoder();
    ~MpegDecoder();
    MpegDecoder(const MpegDecoder&) = delete;
    MpegDecoder& operator=(const MpegDecoder&) = delete;

    // Prepares for a stream whose frames look like `header`. frameLengthHint
    // is the frame length without padding (it stands in for free format).
    bool SetupStream(const MpegFrameHeader& header, std::int32_t frameLengthHint, int downsampleShift = 0,
                     int reserved = 0, std::uint8_t outputFlags = OutputBoth, std::int32_t cutoffHz = 24000);
    // Decodes the frame at `frame` (its header first); `available` bytes may
    // be read. Writes at most kMaxPcmBytesPerFrame bytes of PCM.
    FrameDecodeResult DecodeFrame(const std::uint8_t* frame, std::int32_t available, std::int16_t* pcm);
    OutputFormat GetOutputFormat() const { return m_format; }
    bool isSetUp() const { return m_setUp; }

    void SetInvertPolarity(bool on);
    bool GetInvertPolarity() const;
    // Subband equaliser (32 gains before synthesis) and spectral-line
    // equaliser (576 gains on Layer III spectra); nullptr switches one off.
    void SetSubbandEqualizer(const float* gains32);
    void SetLineEqualizer(const float* gains576);

    // Decoder internals, for tests of single stages.
    Layer3State& layer3() { return *m_layer3; }
    Layer12State& layer12() { return *m_layer12; }
    SynthesisState& synthesis() { return *m_synthesis; }

private:
    std::unique_ptr<Layer3State> m_layer3;
    std::unique_ptr<Layer12State> m_layer12;
    // The one polyphase synthesis, with its polarity and subband equaliser,
    // handed to whichever layer decodes.
    std::unique_ptr<SynthesisState> m_synthesis;
    int m_layer = 0;  // 1, 2 or 3 once set up
    OutputFormat m_format;
    bool m_setUp = false;
};

} // namespace morvik::mpeg
