#include "compo/mpeg/decoder.h"

#include "compo/mpeg/layer12.h"
#include "compo/mpeg/layer3.h"
#include "compo/mpeg/synthesis.h"

#include <algorithm>

namespace morvik::mpeg {

MpegDecoder::MpegDecoder()
    : m_layer3(std::make_unique<Layer3State>()), m_layer12(std::make_unique<Layer12State>()),
      m_synthesis(std::make_unique<SynthesisState>())
{
    SynthesisInit(*m_synthesis);
}

MpegDecoder::~MpegDecoder() = default;

bool MpegDecoder::SetupStream(const MpegFrameHeader& header, std::int32_t frameLengthHint, int downsampleShift,
                              int /*reserved*/, std::uint8_t outputFlags, std::int32_t cutoffHz)
{
    m_setUp = false;
    m_layer = 0;
    const int layer = layerNumber(header);
    if (sampleRateHz(header) <= 0 || layer < 1 || layer > 3)
        return false;
    m_format = OutputFormat{};
    if (layer == 3) {
        if (!SetupLayer3Stream(*m_layer3, *m_synthesis, header, frameLengthHint, downsampleShift, outputFlags,
                               cutoffHz))
            return false;
        m_format.channels = m_layer3->outputChannels;
        m_format.samplesPerFrame = m_layer3->outputChannels * m_layer3->samplesPerChannel;
    } else {
        if (downsampleShift != 0 ||
            !SetupLayer12Stream(*m_layer12, *m_synthesis, header, frameLengthHint, outputFlags, cutoffHz))
            return false;
        m_format.channels = m_layer12->outputChannels;
        m_format.samplesPerFrame = m_layer12->outputChannels * m_layer12->samplesPerChannel;
    }
    m_format.sampleRate = sampleRateHz(header);
    m_format.bitsPerSample = 16;
    m_format.frameLengthHint = frameLengthHint;
    m_layer = layer;
    m_setUp = true;
    return true;
}

FrameDecodeResult MpegDecoder::DecodeFrame(const std::uint8_t* frame, std::int32_t available, std::int16_t* pcm)
{
    if (!m_setUp)
        return {};
    if (m_layer == 3)
        return DecodeLayer3Frame(*m_layer3, *m_synthesis, frame, available, pcm);
    return DecodeLayer12Frame(*m_layer12, *m_synthesis, frame, available, pcm);
}

void MpegDecoder::SetInvertPolarity(bool on)
{
    morvik::mpeg::SetInvertPolarity(*m_synthesis, on);
}

bool MpegDecoder::GetInvertPolarity() const
{
    return m_synthesis->inverted;
}

void MpegDecoder::SetSubbandEqualizer(const float* gains32)
{
    SynthesisState& s = *m_synthesis;
    s.equalizerOn = gains32 != nullptr;
    if (gains32)
        std::copy(gains32, gains32 + 32, s.equalizer);
}

void MpegDecoder::SetLineEqualizer(const float* gains576)
{
    Layer3State& s = *m_layer3;
    s.lineEqualizerOn = gains576 != nullptr;
    if (gains576)
        std::copy(gains576, gains576 + 576, s.lineEqualizer);
}

} // namespace morvik::mpeg
