#include "compo/mpeg/decoder.h"

#include "compo/mpeg/layer12.h"
#include "compo/mpeg/layer3.h"

#include <algorithm>

namespace morvik::mpeg {

MpegDecoder::MpegDecoder() : m_layer3(std::make_unique<Layer3State>()), m_layer12(std::make_unique<Layer12State>())
{
    SynthesisInit(m_layer3->synthesis);
}

MpegDecoder::~MpegDecoder() = default;

bool MpegDecoder::SetupStream(const MpegFrameHeader& header, std::int32_t frameLengthHint, int downsampleShift,
                              int /*reserved*/, std::uint8_t outputFlags, std::int32_t cutoffHz)
{
    m_setUp = false;
    m_layer = 0;
    if (sampleRateHz(header) <= 0 || header.LayerCode < 1 || header.LayerCode > 3)
        return false;
    m_format = OutputFormat{};
    if (header.LayerCode == 1) {
        if (!SetupLayer3Stream(*m_layer3, header, frameLengthHint, downsampleShift, outputFlags, cutoffHz))
            return false;
        m_format.channels = m_layer3->outputChannels;
        m_format.samplesPerFrame = m_layer3->outputChannels * m_layer3->samplesPerChannel;
    } else {
        if (downsampleShift != 0 ||
            !SetupLayer12Stream(*m_layer12, m_layer3->synthesis, header, frameLengthHint, outputFlags, cutoffHz))
            return false;
        m_format.channels = m_layer12->outputChannels;
        m_format.samplesPerFrame = m_layer12->outputChannels * m_layer12->samplesPerChannel;
    }
    m_format.sampleRate = sampleRateHz(header);
    m_format.bitsPerSample = 16;
    m_format.frameLengthHint = frameLengthHint;
    m_layer = layerNumber(header);
    m_setUp = true;
    return true;
}

FrameDecodeResult MpegDecoder::DecodeFrame(const std::uint8_t* frame, std::int32_t available, std::int16_t* pcm)
{
    if (!m_setUp)
        return {};
    const DecodeResult r = m_layer == 3
                               ? DecodeLayer3Frame(*m_layer3, frame, available, pcm)
                               : DecodeLayer12Frame(*m_layer12, m_layer3->synthesis, frame, available, pcm);
    return {r.frameBytes, r.pcmBytes};
}

void MpegDecoder::SetInvertPolarity(bool on)
{
    morvik::mpeg::SetInvertPolarity(m_layer3->synthesis, on);
}

bool MpegDecoder::GetInvertPolarity() const
{
    return m_layer3->synthesis.inverted;
}

void MpegDecoder::SetSubbandEqualizer(const float* gains32)
{
    SynthesisState& s = m_layer3->synthesis;
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
