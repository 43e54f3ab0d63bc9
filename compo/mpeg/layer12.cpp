#include "compo/mpeg/layer12.h"

#include "compo/mpeg/bitreader.h"
#include "compo/mpeg/dispatch.h"
#include "compo/mpeg/synthesis.h"

#include <algorithm>
#include <bit>
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

// The samples of a time step (Layer I) or of a granule of three (Layer II)
// are read through the bit reader in 32-bit words into a byte buffer, and
// each field is then cut from it at its bit offset, which is the same in
// every step or granule of the frame: the fields depend on no reader state,
// and no branch is taken per sample. A field is at most 48 bits (three
// 16-bit codes), 32 subbands of 2 channels at most 3072 bits.
constexpr int kBlockBitsMax = 32 * 2 * 48;
// With room for the zeros written after the bits and for an 8-byte load at
// the last field.
constexpr int kBlockBytes = kBlockBitsMax / 8 + 16;

std::uint64_t loadBigEndian64(const std::uint8_t* p)
{
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    if constexpr (std::endian::native == std::endian::little)
        word = __builtin_bswap64(word);
    return word;
}

void storeBigEndian64(std::uint8_t* p, std::uint64_t word)
{
    if constexpr (std::endian::native == std::endian::little)
        word = __builtin_bswap64(word);
    std::memcpy(p, &word, sizeof word);
}

// Reads `count` bits (at most kBlockBitsMax) into `buffer`, first bit
// highest, followed by zeros to the end of the last field's 8-byte load.
void readBlock(BitReader& bits, int count, std::uint8_t* buffer)
{
    // A copy of the reader keeps its state in registers across the stores
    // of bytes, which could alias it.
    BitReader reader = bits;
    // Reads of 28 bits: the reader then tops up once every two reads (from
    // 56 or more bits held), 7 bytes at a time. Each 8-byte store leaves
    // its last byte to the next.
    int byte = 0;
    for (; count >= 56; count -= 56, byte += 7) {
        const std::uint64_t first = reader.GetWideBits(28);
        storeBigEndian64(buffer + byte, first << 36 | std::uint64_t{reader.GetWideBits(28)} << 8);
    }
    std::memset(buffer + byte, 0, 16);
    if (count > 28) {
        const std::uint64_t first = reader.GetWideBits(28);
        storeBigEndian64(buffer + byte, first << 36 | std::uint64_t{reader.GetWideBits(count - 28)} << (64 - count));
    } else if (count > 0) {
        storeBigEndian64(buffer + byte, std::uint64_t{reader.GetWideBits(count)} << (64 - count));
    }
    bits = reader;
}

// Where a field of `fieldBits` bits starting at `bit` of the block lies:
// the byte of its 8-byte window, and the shift that brings its end to the
// window's low end.
struct FieldPosition {
    int byte;
    int end;
};

FieldPosition fieldAt(int bit, int fieldBits)
{
    return {bit >> 3, 64 - (bit & 7) - fieldBits};
}

// One Layer I sample field and where its sample goes, in both channels'
// slots for a subband both share.
struct Layer1Field {
    std::uint16_t byte;
    std::uint8_t shift;
    std::uint8_t slot[2];
    std::uint32_t mask;
    std::int32_t centre;  // 2^(b-1) - 1 for b bits
    float factor;  // of the bit count
    float scale[2];  // of each channel's scale factor
};

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

    // The fields of a step in their order: those of one channel's subband
    // below min(bound, limit), then those both channels share below the
    // limit, then those past the limit, which are read and dropped. Every
    // other slot holds zeros for the whole frame.
    Layer1Field fields[64];
    int separate = 0;
    int shared = 0;
    int stepBits = 0;
    std::uint8_t zeroSlots[64];
    int zeros = 0;
    for (int sb = 0; sb < 32; ++sb)
        for (int ch = 0; ch < nch; ++ch) {
            const int a = s.allocation[ch][sb];
            const int k = slot(s, sb, ch);
            const bool own = sb < bound || ch == 0;
            const int b = a + 1;
            if (!a || sb >= s.subbandLimit) {
                zeroSlots[zeros++] = static_cast<std::uint8_t>(k);
                if (a && own)
                    stepBits += b;
                continue;
            }
            const float scale = t.scale[s.scaleIndex[ch][sb][0] & 63];
            if (!own) {
                // The second channel of a shared field, the last one added.
                Layer1Field& f = fields[separate + shared - 1];
                f.slot[1] = static_cast<std::uint8_t>(k);
                f.scale[1] = scale;
                continue;
            }
            Layer1Field& f = fields[separate + shared];
            const FieldPosition at = fieldAt(stepBits, b);
            f.byte = static_cast<std::uint16_t>(at.byte);
            f.shift = static_cast<std::uint8_t>(at.end);
            f.slot[0] = static_cast<std::uint8_t>(k);
            f.slot[1] = 0;
            f.mask = (std::uint32_t{1} << b) - 1;
            f.centre = (1 << (b - 1)) - 1;
            f.factor = t.layer1Factor[b];
            f.scale[0] = scale;
            stepBits += b;
            if (sb < bound)
                ++separate;
            else
                ++shared;
        }

    std::uint8_t buffer[kBlockBytes];
    for (int step = 0; step < 12; ++step) {
        readBlock(bits, stepBits, buffer);
        float* out = s.samples[step];
        for (int i = 0; i < separate + shared; ++i) {
            const Layer1Field& f = fields[i];
            const std::uint64_t window = loadBigEndian64(buffer + f.byte);
            const float centred = static_cast<float>(static_cast<std::int32_t>((window >> f.shift) & f.mask) - f.centre);
            out[f.slot[0]] = centred * f.factor * f.scale[0];
            if (i >= separate)
                out[f.slot[1]] = centred * f.factor * f.scale[1];
        }
    }
    for (int i = 0; i < zeros; ++i)
        for (int step = 0; step < 12; ++step)
            s.samples[step][zeroSlots[i]] = 0.0f;
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

// 2^e for a normal float's exponent e.
float powerOfTwo(int e)
{
    return std::bit_cast<float>(static_cast<std::uint32_t>(127 + e) << 23);
}

using Int4 = std::int32_t __attribute__((vector_size(16)));
using Float4 = float __attribute__((vector_size(16)));

// One Layer II field of three samples and where they go. Its bits end
// `end` bits above the low end of the 8-byte window at `byte` of a
// granule's block.
struct Layer2Field {
    enum Kind : std::uint8_t { Grouped, Narrow, Wide };
    Kind kind;
    std::uint8_t end;
    std::uint8_t width;
    std::uint8_t slot[2];  // the second only for a field both channels share
    std::uint16_t byte;
    std::int32_t centre;  // (steps - 1) / 2, whole for every class
    const float* group;  // grouped: samples less the centre by code
    // Narrow (three codes of up to 10 bits): the field's bits, masked in
    // each lane to one code, converted and scaled down to it. Each step is
    // exact, the codes having at most 10 significant bits.
    Int4 laneMask;
    Float4 laneScale;
    Float4 laneCentre;
    float factor[2][3];  // per channel, per part
};

// Per class: the field as every frame starts it (all but its place, slots
// and factors) and its bits. For a grouped class (3, 5 and 9 steps in 5, 7
// and 10 bits) also every code as its three samples less the centre, first
// in time first; the differences are exact, so a sample is the same taken
// from here or computed.
struct Layer2ClassTables {
    float three[32][3];
    float five[128][3];
    float nine[1024][3];
    Layer2Field field[18]{};
    int fieldBits[18] = {};
    Layer2ClassTables()
    {
        fill<3>(three);
        fill<5>(five);
        fill<9>(nine);
        const float* group[18] = {};
        group[1] = three[0];
        group[2] = five[0];
        group[4] = nine[0];
        for (int cls = 1; cls < 18; ++cls) {
            const int width = kClassBits[cls];
            Layer2Field& f = field[cls];
            f.kind = group[cls] ? Layer2Field::Grouped : width <= 10 ? Layer2Field::Narrow : Layer2Field::Wide;
            f.width = static_cast<std::uint8_t>(width);
            f.centre = (kClassSteps[cls] - 1) / 2;
            f.group = group[cls];
            if (f.kind == Layer2Field::Narrow) {
                const std::int32_t m = (std::int32_t{1} << width) - 1;
                f.laneMask = Int4{m << 2 * width, m << width, m, 0};
                f.laneScale = Float4{powerOfTwo(-2 * width), powerOfTwo(-width), 1.0f, 0.0f};
                const auto c = static_cast<float>(f.centre);
                f.laneCentre = Float4{c, c, c, 0.0f};
            }
            fieldBits[cls] = group[cls] ? width : 3 * width;
        }
    }
    template <std::uint32_t steps, std::size_t codes>
    static void fill(float (&table)[codes][3])
    {
        const float centre = static_cast<float>(steps - 1) * 0.5f;
        for (std::uint32_t code = 0; code < codes; ++code) {
            // Least significant place first; a code above steps^3 - 1
            // leaves a remainder in each place like any other.
            std::uint32_t rest = code;
            for (float& sample : table[code]) {
                sample = static_cast<float>(rest % steps) - centre;
                rest /= steps;
            }
        }
    }
};

const Layer2ClassTables& layer2ClassTables()
{
    static const Layer2ClassTables t;
    return t;
}

// Writes v[i] x the channel's factor of the granule's part into the
// granule's three time steps.
template <int channels>
inline void storeTriple(const Layer2Field& f, const float (&v)[3], int granule, float (&samples)[36][64])
{
    for (int ch = 0; ch < channels; ++ch) {
        const float factor = f.factor[ch][granule / 4];
        for (int i = 0; i < 3; ++i)
            samples[3 * granule + i][f.slot[ch]] = v[i] * factor;
    }
}

// The samples of one field in all 12 granules, into the slots of its
// `channels` channels.
template <int channels>
void dequantiseField(const std::uint8_t (&blocks)[12][kBlockBytes], const Layer2Field& field,
                     float (&samples)[36][64])
{
    // A copy, so that the stores of samples cannot be taken to change it.
    const Layer2Field f = field;
    const std::uint32_t mask = (std::uint32_t{1} << f.width) - 1;
    switch (f.kind) {
    case Layer2Field::Grouped:
        for (int granule = 0; granule < 12; ++granule) {
            const std::uint64_t window = loadBigEndian64(blocks[granule] + f.byte);
            const float* g = f.group + 3 * ((window >> f.end) & mask);
            const float v[3] = {g[0], g[1], g[2]};
            storeTriple<channels>(f, v, granule, samples);
        }
        return;
    case Layer2Field::Narrow:
        for (int granule = 0; granule < 12; ++granule) {
            const auto codes = static_cast<std::int32_t>(loadBigEndian64(blocks[granule] + f.byte) >> f.end);
            const Int4 lanes = Int4{codes, codes, codes, codes} & f.laneMask;
            const Float4 d = __builtin_convertvector(lanes, Float4) * f.laneScale - f.laneCentre;
            const float v[3] = {d[0], d[1], d[2]};
            storeTriple<channels>(f, v, granule, samples);
        }
        return;
    case Layer2Field::Wide:
        for (int granule = 0; granule < 12; ++granule) {
            const std::uint64_t codes = loadBigEndian64(blocks[granule] + f.byte) >> f.end;
            float v[3];
            for (int i = 0; i < 3; ++i)
                v[i] = static_cast<float>(static_cast<std::int32_t>((codes >> (2 - i) * f.width) & mask) - f.centre);
            storeTriple<channels>(f, v, granule, samples);
        }
        return;
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

    // The fields of a granule in their order, as in Layer I.
    const Layer2ClassTables& classes = layer2ClassTables();
    Layer2Field fields[64];
    int separate = 0;
    int shared = 0;
    int granuleBits = 0;
    std::uint8_t zeroSlots[64];
    int zeros = 0;
    for (int sb = 0; sb < 32; ++sb)
        for (int ch = 0; ch < nch; ++ch) {
            const int cls = s.allocation[ch][sb];
            const int k = slot(s, sb, ch);
            const bool own = sb < bound || ch == 0;
            const int fieldBits = classes.fieldBits[cls];
            if (!cls || sb >= s.subbandLimit) {
                zeroSlots[zeros++] = static_cast<std::uint8_t>(k);
                if (cls && own)
                    granuleBits += fieldBits;
                continue;
            }
            float factor[3];
            for (int part = 0; part < 3; ++part)
                factor[part] = t.layer2Factor[cls] * t.scale[s.scaleIndex[ch][sb][part] & 63];
            if (!own) {
                // The second channel of a shared field, the last one added.
                Layer2Field& f = fields[separate + shared - 1];
                f.slot[1] = static_cast<std::uint8_t>(k);
                std::copy(factor, factor + 3, f.factor[1]);
                continue;
            }
            Layer2Field& f = fields[separate + shared];
            const FieldPosition at = fieldAt(granuleBits, fieldBits);
            f = classes.field[cls];
            f.end = static_cast<std::uint8_t>(at.end);
            f.byte = static_cast<std::uint16_t>(at.byte);
            f.slot[0] = static_cast<std::uint8_t>(k);
            std::copy(factor, factor + 3, f.factor[0]);
            granuleBits += fieldBits;
            if (sb < bound)
                ++separate;
            else
                ++shared;
        }

    // All 12 granules first; then each field through them.
    std::uint8_t blocks[12][kBlockBytes];
    for (auto& block : blocks)
        readBlock(bits, granuleBits, block);
    for (int i = 0; i < separate; ++i)
        dequantiseField<1>(blocks, fields[i], s.samples);
    for (int i = separate; i < separate + shared; ++i)
        dequantiseField<2>(blocks, fields[i], s.samples);
    for (int i = 0; i < zeros; ++i)
        for (int step = 0; step < 36; ++step)
            s.samples[step][zeroSlots[i]] = 0.0f;
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
