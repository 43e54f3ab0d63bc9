#include "compo/mpeg/layer12.h"

#include "compo/mpeg/bitreader.h"
#include "compo/mpeg/dispatch.h"
#include "compo/mpeg/synthesis.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace morvik::mpeg {

namespace {

constexpr int kClassSteps[18] = {0,   3,    5,    7,    9,    15,    31,    63,    127,
                                 255, 511, 1023, 2047, 4095, 8191, 16383, 32767, 65535};
// Bits of one sample (ungrouped classes) or of a group of three (classes 1,
// 2 and 4).
constexpr int kClassBits[18] = {0, 5, 7, 3, 10, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

struct Layer12Tables {
    float scale[64];  // 2^(1 - i/3) x 32768
    float layer1Factor[17];  // 2 / (2^b - 1) for b bits
    float layer2Factor[18];  // 2 / steps
    Layer12Tables()
    {
        for (int i = 0; i < 64; ++i)
            scale[i] = static_cast<float>(std::pow(2.0, -i / 3.0) * 65536.0);
        for (int b = 2; b <= 16; ++b)
            layer1Factor[b] = static_cast<float>(2.0 / ((1 << b) - 1));
        for (int c = 1; c <= 17; ++c)
            layer2Factor[c] = static_cast<float>(2.0 / kClassSteps[c]);
    }
};

const Layer12Tables& tables()
{
    static const Layer12Tables t;
    return t;
}

int jointBound(int mode, int modeExtension, int subbands)
{
    return mode == 1 ? std::min(4 * (modeExtension + 1), subbands) : subbands;
}

void synthesiseSteps(Layer12State& s, SynthesisState& synthesis, int steps, std::int16_t* out)
{
    // The mono mix is synthesised without the equaliser.
    const bool mix = s.channels == 2 && s.choice == ChannelChoice::MonoMix;
    if (synthesis.equalizerOn && !mix)
        for (int t = 0; t < steps; ++t)
            for (int i = 0; i < 64; ++i)
                s.samples[t][i] *= synthesis.equalizer[(s.channels == 2 ? i / 2 : i) & 31];
    const float* samples = s.samples[0];
    if (s.channels == 1) {
        SynthesiseSteps(synthesis, 0, samples, 64, 1, steps, nullptr, out, false);
        return;
    }
    switch (s.choice) {
    case ChannelChoice::Both:
        for (int ch = 0; ch < 2; ++ch)
            SynthesiseSteps(synthesis, ch, samples + ch, 64, 2, steps, nullptr, out + ch, true);
        return;
    case ChannelChoice::LeftOnly:
    case ChannelChoice::RightOnly:
        SynthesiseSteps(synthesis, 0, samples + (s.choice == ChannelChoice::RightOnly ? 1 : 0), 64, 2, steps, nullptr,
                        out, false);
        return;
    case ChannelChoice::MonoMix: {
        const DecoderDispatch& d = decoderDispatch();
        for (int t = 0; t < steps; ++t) {
            float mixed[32];
            for (int i = 0; i < 32; ++i)
                mixed[i] = (s.samples[t][2 * i] + s.samples[t][2 * i + 1]) * 0.5f;
            float block[32];
            Dct32(mixed, block);
            StoreRingBlock(synthesis.ring[0], synthesis.offset[0], block);
            d.WindowToPcmMono(synthesis.window, synthesis.ring[0], synthesis.offset[0], out + 32 * t);
            synthesis.offset[0] = (synthesis.offset[0] - 32) & 511;
        }
        return;
    }
    }
}

// Slot of subband sb, channel ch in a time step.
int slot(const Layer12State& s, int sb, int ch)
{
    return s.channels == 2 ? 2 * sb + ch : sb;
}

void decodeLayer1(Layer12State& s, BitReader& bits, int bound)
{
    const Layer12Tables& t = tables();
    const int nch = s.channels;
    for (int sb = 0; sb < 32; ++sb)
        for (int ch = 0; ch < nch; ++ch) {
            if (sb < bound || ch == 0)
                s.allocation[ch][sb] = static_cast<std::int32_t>(bits.GetWideBits(4));
            else
                s.allocation[ch][sb] = s.allocation[0][sb];
            if (s.allocation[ch][sb] == 15)  // forbidden: taken as no allocation
                s.allocation[ch][sb] = 0;
        }
    for (int sb = 0; sb < 32; ++sb)
        for (int ch = 0; ch < nch; ++ch)
            if (s.allocation[ch][sb])
                s.scaleIndex[ch][sb][0] = static_cast<std::int32_t>(bits.GetWideBits(6));
    for (int step = 0; step < 12; ++step) {
        float* out = s.samples[step];
        for (int sb = 0; sb < 32; ++sb) {
            std::uint32_t shared = 0;
            for (int ch = 0; ch < nch; ++ch) {
                const int a = s.allocation[ch][sb];
                float value = 0.0f;
                if (a) {
                    const int b = a + 1;
                    const std::uint32_t raw = sb < bound || ch == 0 ? bits.GetWideBits(b) : shared;
                    shared = raw;
                    const float centred = static_cast<float>(static_cast<std::int32_t>(raw) - (1 << (b - 1)) + 1);
                    value = centred * t.layer1Factor[b] * t.scale[s.scaleIndex[ch][sb][0] & 63];
                }
                out[slot(s, sb, ch)] = sb < s.subbandLimit ? value : 0.0f;
            }
        }
    }
}

void readLayer2ScaleFactors(Layer12State& s, BitReader& bits)
{
    const int subbands = s.table->subbands;
    std::int32_t selection[2][32] = {};
    for (int sb = 0; sb < subbands; ++sb)
        for (int ch = 0; ch < s.channels; ++ch)
            selection[ch][sb] = s.allocation[ch][sb] ? static_cast<std::int32_t>(bits.GetWideBits(2)) : 4;
    for (int sb = 0; sb < subbands; ++sb)
        for (int ch = 0; ch < s.channels; ++ch) {
            std::int32_t* scf = s.scaleIndex[ch][sb];
            switch (selection[ch][sb]) {
            case 0:
                scf[0] = static_cast<std::int32_t>(bits.GetWideBits(6));
                scf[1] = static_cast<std::int32_t>(bits.GetWideBits(6));
                scf[2] = static_cast<std::int32_t>(bits.GetWideBits(6));
                break;
            case 1:
                scf[0] = scf[1] = static_cast<std::int32_t>(bits.GetWideBits(6));
                scf[2] = static_cast<std::int32_t>(bits.GetWideBits(6));
                break;
            case 2:
                scf[0] = scf[1] = scf[2] = static_cast<std::int32_t>(bits.GetWideBits(6));
                break;
            case 3:
                scf[0] = static_cast<std::int32_t>(bits.GetWideBits(6));
                scf[1] = scf[2] = static_cast<std::int32_t>(bits.GetWideBits(6));
                break;
            default:
                break;
            }
        }
}

// Splits a group code into its three samples, least significant first.
// `steps` is a constant at each call, so the divisions become
// multiplications.
template <std::uint32_t steps>
void ungroup(std::uint32_t code, std::int32_t (&raw)[3])
{
    for (int& r : raw) {
        r = static_cast<std::int32_t>(code % steps);
        code /= steps;
    }
}

// Three samples of one class: a group code or three separate codes.
void readTriple(BitReader& bits, int cls, std::int32_t (&raw)[3])
{
    switch (cls) {
    case 1:
        ungroup<3>(bits.GetWideBits(kClassBits[1]), raw);
        return;
    case 2:
        ungroup<5>(bits.GetWideBits(kClassBits[2]), raw);
        return;
    case 4:
        ungroup<9>(bits.GetWideBits(kClassBits[4]), raw);
        return;
    default: {
        const int width = kClassBits[cls];
        if (3 * width > 32) {
            for (int& r : raw)
                r = static_cast<std::int32_t>(bits.GetWideBits(width));
            return;
        }
        // Up to 10 bits each: the three codes in one read.
        const std::uint32_t codes = bits.GetWideBits(3 * width);
        const std::uint32_t mask = (std::uint32_t{1} << width) - 1;
        raw[0] = static_cast<std::int32_t>(codes >> (2 * width));
        raw[1] = static_cast<std::int32_t>((codes >> width) & mask);
        raw[2] = static_cast<std::int32_t>(codes & mask);
        return;
    }
    }
}

void decodeLayer2(Layer12State& s, BitReader& bits, int bound)
{
    const Layer12Tables& t = tables();
    const Layer2AllocTable& table = *s.table;
    const int subbands = table.subbands;
    const int nch = s.channels;
    for (int sb = 0; sb < subbands; ++sb)
        for (int ch = 0; ch < nch; ++ch) {
            if (sb < bound || ch == 0)
                s.allocation[ch][sb] = table.classOf[sb][bits.GetWideBits(table.allocBits[sb]) & 15];
            else
                s.allocation[ch][sb] = s.allocation[0][sb];
        }
    for (int sb = subbands; sb < 32; ++sb)
        s.allocation[0][sb] = s.allocation[1][sb] = 0;
    readLayer2ScaleFactors(s, bits);

    for (int part = 0; part < 3; ++part) {
        // Scale and centre of each subband for the four granules of a part.
        float factor[2][32], centre[2][32];
        for (int ch = 0; ch < nch; ++ch)
            for (int sb = 0; sb < subbands; ++sb) {
                const int cls = s.allocation[ch][sb];
                factor[ch][sb] = t.layer2Factor[cls] * t.scale[s.scaleIndex[ch][sb][part] & 63];
                centre[ch][sb] = static_cast<float>(kClassSteps[cls] - 1) * 0.5f;
            }
        for (int granule = 0; granule < 4; ++granule) {
            const int first = 12 * part + 3 * granule;
            float* out[3] = {s.samples[first], s.samples[first + 1], s.samples[first + 2]};
            for (int sb = 0; sb < 32; ++sb) {
                std::int32_t raw[3] = {};
                for (int ch = 0; ch < nch; ++ch) {
                    const int cls = s.allocation[ch][sb];
                    const int k = slot(s, sb, ch);
                    if (!cls || sb >= s.subbandLimit) {
                        if (cls && (sb < bound || ch == 0))
                            readTriple(bits, cls, raw);
                        out[0][k] = out[1][k] = out[2][k] = 0.0f;
                        continue;
                    }
                    if (sb < bound || ch == 0)
                        readTriple(bits, cls, raw);
                    for (int i = 0; i < 3; ++i)
                        out[i][k] = (static_cast<float>(raw[i]) - centre[ch][sb]) * factor[ch][sb];
                }
            }
        }
    }
}

} // namespace

int layer2TableIndex(int mode, int sampleIndex, int bitRateIndex)
{
    const bool mono = mode == 3;
    if (sampleIndex > 2 || bitRateIndex > 14)
        return -1;
    if (bitRateIndex == 0)
        return sampleIndex == 1 ? 0 : 1;
    if (!mono && (bitRateIndex <= 3 || bitRateIndex == 5))
        return -1;
    if (mono && bitRateIndex >= 11)
        return -1;
    const int perChannel = kBitRateKbps[2][1][bitRateIndex] / (mono ? 1 : 2);
    if (perChannel <= 48)
        return sampleIndex == 2 ? 3 : 2;
    if (perChannel <= 80)
        return 0;
    return sampleIndex == 1 ? 0 : 1;
}

bool SetupLayer12Stream(Layer12State& s, SynthesisState& synthesis, const MpegFrameHeader& h,
                        std::int32_t frameLengthHint, std::uint8_t outputFlags, std::int32_t cutoffHz)
{
    if (layerNumber(h) != 1 && layerNumber(h) != 2)
        return false;
    // MPEG 2.5 has no Layer I or II.
    if (h.SyncKind != 1 || h.SampleRateIndex > 2)
        return false;
    s.layer = layerNumber(h);
    s.lsf = h.VersionId == 0;
    s.channels = h.Mode == 3 ? 1 : 2;
    s.choice = static_cast<ChannelChoice>(outputFlags & 3);
    s.outputChannels = s.channels == 2 && s.choice == ChannelChoice::Both ? 2 : 1;
    if (s.layer == 2) {
        const int index = s.lsf ? 4 : layer2TableIndex(h.Mode, h.SampleRateIndex, h.BitRateIndex);
        if (index < 0)
            return false;
        s.table = &kLayer2AllocTables[index];
    } else {
        s.table = nullptr;
    }
    const int fs = sampleRateHz(h);
    const int cutoff = std::max(cutoffHz, 1000);
    // All 32 subbands when the cut-off allows: the highest carries signal at
    // low sampling rates.
    s.subbandLimit = std::min((cutoff * 64 + fs / 2) / fs, 32);
    s.samplesPerChannel = s.layer == 1 ? 384 : 1152;
    s.outputBytesPerFrame = s.outputChannels * s.samplesPerChannel * 2;
    s.frameLengthHint = frameLengthHint;
    std::memset(s.samples, 0, sizeof s.samples);
    std::memset(s.allocation, 0, sizeof s.allocation);
    std::memset(s.scaleIndex, 0, sizeof s.scaleIndex);
    SynthesisReset(synthesis);
    return true;
}

FrameDecodeResult DecodeLayer12Frame(Layer12State& s, SynthesisState& synthesis, const std::uint8_t* frame,
                                     std::int32_t available, std::int16_t* pcm)
{
    // The header is read within the bytes given, the frame's data within the
    // frame: past either end the reader gives zeros.
    BitReader bits;
    bits.BitReaderStart(frame, available);
    if (bits.GetWideBits(12) != 0xFFF)
        return {};
    const int id = static_cast<int>(bits.GetWideBits(1));
    const int layerCode = static_cast<int>(bits.GetWideBits(2));
    if (id != (s.lsf ? 0 : 1) || 4 - layerCode != s.layer)
        return {};
    const bool crc = bits.GetWideBits(1) == 0;
    const int bitRateIndex = static_cast<int>(bits.GetWideBits(4));
    const int sampleIndex = static_cast<int>(bits.GetWideBits(2));
    const int padding = static_cast<int>(bits.GetWideBits(1));
    bits.GetWideBits(1);
    const int mode = static_cast<int>(bits.GetWideBits(2));
    const int modeExtension = static_cast<int>(bits.GetWideBits(2));
    bits.GetWideBits(4);
    if (crc)
        bits.GetWideBits(16);
    if (sampleIndex > 2 || bitRateIndex == 15 || (mode == 3) != (s.channels == 1))
        return {};

    // Each frame's own bit rate gives its length; free format keeps the hint.
    int length = s.frameLengthHint;
    if (bitRateIndex != 0) {
        const int kbps = kBitRateKbps[s.layer][s.lsf ? 0 : 1][bitRateIndex];
        const int r50 = kSampleRate50[s.lsf ? 0 : 1][sampleIndex];
        length = s.layer == 1 ? (240 * kbps / r50) * 4 : 2880 * kbps / r50;
    }
    length += padding * (s.layer == 1 ? 4 : 1);
    if (length <= 0 || length > available)
        return {};
    BitReader inFrame;
    inFrame.BitReaderStart(frame, length);
    inFrame.GetWideBits(32);
    if (crc)
        inFrame.GetWideBits(16);
    if (s.layer == 1) {
        decodeLayer1(s, inFrame, jointBound(mode, modeExtension, 32));
        synthesiseSteps(s, synthesis, 12, pcm);
    } else {
        decodeLayer2(s, inFrame, jointBound(mode, modeExtension, s.table->subbands));
        synthesiseSteps(s, synthesis, 36, pcm);
    }
    return {length, s.outputBytesPerFrame};
}

} // namespace morvik::mpeg
