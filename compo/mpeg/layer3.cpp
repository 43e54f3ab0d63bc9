// Layer III frame layer: stream set-up, side information, bit reservoir,
// scale factors and the per-granule driver.
#include "compo/mpeg/layer3.h"

#include "compo/mpeg/dispatch.h"
#include "compo/mpeg/huffman.h"
#include "compo/mpeg/imdct.h"
#include "compo/mpeg/stereo.h"
#include "compo/mpeg/synthesis.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace morvik::mpeg {

namespace {

// Past this fill the reservoir is moved to the front of the buffer.
constexpr int kCompactAbove = 6692;

int sideInfoBytes(bool mpeg1, int channels)
{
    if (mpeg1)
        return channels == 1 ? 17 : 32;
    return channels == 1 ? 9 : 17;
}

void buildBandLayout(BandLayout& layout, const BandBoundaries& b, int versionRow)
{
    for (int i = 0; i < 23; ++i)
        layout.longStart[i] = b.longBands[i];
    for (int i = 0; i < 22; ++i)
        layout.longWidth[i] = b.longBands[i + 1] - b.longBands[i];
    for (int i = 0; i < 14; ++i)
        layout.shortStart3[i] = 3 * b.shortBands[i];
    for (int i = 0; i < 13; ++i)
        layout.shortWidth[i] = b.shortBands[i + 1] - b.shortBands[i];
    layout.mixedLongBands = versionRow == 1 ? 8 : 6;
}

// Reads the header after the sync and the side information. Returns false
// when the frame cannot belong to this stream.
bool parseSideInfo(Layer3State& s, BitReader& r, int& bitRateIndex, int& sampleIndex, int& padding, bool& crc,
                   int& frameChannels)
{
    const bool mpeg1 = s.versionRow == 1;
    const int id = static_cast<int>(r.GetBits(1));
    if (id != (mpeg1 ? 1 : 0))
        return false;
    r.GetBits(2);  // layer: the stream's
    crc = r.GetBits(1) == 0;
    bitRateIndex = static_cast<int>(r.GetBits(4));
    sampleIndex = static_cast<int>(r.GetBits(2));
    padding = static_cast<int>(r.GetBits(1));
    r.GetBits(1);
    const int mode = static_cast<int>(r.GetBits(2));
    int modeExtension = static_cast<int>(r.GetBits(2));
    r.GetBits(4);
    if (crc)
        r.GetBits(16);
    if (mode != 1)
        modeExtension = 0;
    frameChannels = mode == 3 ? 1 : 2;
    if (sampleIndex != s.sampleIndex)
        return false;
    s.frameChannels = frameChannels;
    s.modeExtension = modeExtension;
    s.midSide = (modeExtension & 2) != 0;
    s.intensity = (modeExtension & 1) != 0;

    s.mainDataBegin = static_cast<int>(r.GetBits(mpeg1 ? 9 : 8));
    r.GetBits(mpeg1 ? (frameChannels == 1 ? 5 : 3) : (frameChannels == 1 ? 1 : 2));
    s.granules = mpeg1 ? 2 : 1;
    for (int ch = 0; ch < frameChannels; ++ch)
        s.scfsi[ch] = mpeg1 ? static_cast<int>(r.GetBits(4)) : 0;

    const int mixOffset = frameChannels == 2 ? s.globalGainOffset : 0;
    const int gainOffset = mixOffset - (s.midSide ? 2 : 0);
    for (int gr = 0; gr < s.granules; ++gr) {
        for (int ch = 0; ch < frameChannels; ++ch) {
            GranuleSideInfo& g = s.side[gr][ch];
            g.part2_3_length = static_cast<int>(r.GetBits(12));
            g.big_values = static_cast<int>(r.GetBits(9));
            g.global_gain = static_cast<int>(r.GetBits(8)) + gainOffset;
            g.scalefac_compress = static_cast<int>(r.GetBits(mpeg1 ? 4 : 9));
            g.window_switching_flag = static_cast<int>(r.GetBits(1));
            if (g.window_switching_flag) {
                g.block_type = static_cast<int>(r.GetBits(2));
                g.mixed_block_flag = static_cast<int>(r.GetBits(1));
                g.table_select[0] = static_cast<int>(r.GetBits(5));
                g.table_select[1] = static_cast<int>(r.GetBits(5));
                g.table_select[2] = 0;
                for (int& gain : g.subblock_gain)
                    gain = static_cast<int>(r.GetBits(3));
                const bool lsfShort = !mpeg1 && g.block_type == 2;
                g.region0_count = lsfShort ? 5 : 7;
                g.region1_count = lsfShort ? 15 : 13;
            } else {
                g.block_type = 0;
                g.mixed_block_flag = 0;
                for (int& table : g.table_select)
                    table = static_cast<int>(r.GetBits(5));
                g.subblock_gain[0] = g.subblock_gain[1] = g.subblock_gain[2] = 0;
                g.region0_count = static_cast<int>(r.GetBits(4));
                g.region1_count = static_cast<int>(r.GetBits(3));
            }
            g.preflag = mpeg1 ? static_cast<int>(r.GetBits(1)) : 0;
            g.scalefac_scale = static_cast<int>(r.GetBits(1));
            g.count1table_select = static_cast<int>(r.GetBits(1));
        }
    }
    return true;
}

} // namespace

void ReadMpeg1ScaleFactors(Layer3State& s, BitReader& r, int gr, int ch)
{
    const GranuleSideInfo& g = s.side[gr][ch];
    ScaleFactorSet& sf = s.scalefactors[gr][ch];
    const int slen1 = kSlenMpeg1[g.scalefac_compress & 15][0];
    const int slen2 = kSlenMpeg1[g.scalefac_compress & 15][1];
    if (g.window_switching_flag && g.block_type == 2) {
        sf = ScaleFactorSet{};
        int firstShort = 0;
        if (g.mixed_block_flag) {
            for (int b = 0; b < 8; ++b)
                sf.longBands[b] = static_cast<int>(r.GetBits(slen1));
            firstShort = 3;
        }
        for (int b = firstShort; b < 12; ++b)
            for (int w = 0; w < 3; ++w)
                sf.shortBands[w][b] = static_cast<int>(r.GetBits(b < 6 ? slen1 : slen2));
        return;
    }
    static constexpr int kGroupStart[5] = {0, 6, 11, 16, 21};
    const ScaleFactorSet& first = s.scalefactors[0][ch];
    for (int group = 0; group < 4; ++group) {
        const int from = kGroupStart[group];
        const int to = kGroupStart[group + 1];
        if (gr == 1 && (s.scfsi[ch] >> (3 - group)) & 1) {
            std::copy(first.longBands + from, first.longBands + to, sf.longBands + from);
            continue;
        }
        const int bits = group < 2 ? slen1 : slen2;
        for (int b = from; b < to; ++b)
            sf.longBands[b] = static_cast<int>(r.GetBits(bits));
    }
    sf.longBands[21] = sf.longBands[22] = 0;
}

namespace {

void readLsfScaleFactors(Layer3State& s, BitReader& r, int ch)
{
    GranuleSideInfo& g = s.side[0][ch];
    ScaleFactorSet& sf = s.scalefactors[0][ch];
    sf = ScaleFactorSet{};
    const int sfc = g.scalefac_compress;
    int slen[4] = {};
    int row = 0;
    const bool intensityRight = ch == 1 && s.intensity;
    if (intensityRight) {
        const int f = sfc >> 1;
        if (f < 180) {
            slen[0] = f / 36, slen[1] = (f % 36) / 6, slen[2] = (f % 36) % 6, row = 3;
        } else if (f < 244) {
            slen[0] = (f - 180) / 16, slen[1] = ((f - 180) / 4) % 4, slen[2] = (f - 180) % 4, row = 4;
        } else {
            slen[0] = (f - 244) / 3, slen[1] = (f - 244) % 3, row = 5;
        }
        g.preflag = 0;
    } else if (sfc < 400) {
        slen[0] = (sfc >> 4) / 5, slen[1] = (sfc >> 4) % 5, slen[2] = (sfc >> 2) % 4, slen[3] = sfc % 4;
        row = 0;
        g.preflag = 0;
    } else if (sfc < 500) {
        slen[0] = ((sfc - 400) >> 2) / 5, slen[1] = ((sfc - 400) >> 2) % 5, slen[2] = (sfc - 400) % 4;
        row = 1;
        g.preflag = 0;
    } else {
        slen[0] = (sfc - 500) / 3, slen[1] = (sfc - 500) % 3;
        row = 2;
        g.preflag = 1;
    }
    const int kind = g.window_switching_flag && g.block_type == 2 ? (g.mixed_block_flag ? 2 : 1) : 0;
    const std::uint8_t* counts = kLsfBandCounts[row][kind];
    int lengths[4] = {slen[0], slen[1], slen[2], slen[3]};
    if (kind == 2 && row == 2) {
        lengths[1] = slen[0];
        lengths[2] = slen[1];
        lengths[3] = 0;
    }
    if (kind == 0) {
        int band = 0;
        for (int part = 0; part < 4; ++part)
            for (int n = 0; n < counts[part] && band < 21; ++n)
                sf.longBands[band++] = static_cast<int>(r.GetBits(lengths[part]));
    } else {
        int band = 0;
        int part = 0;
        if (kind == 2) {
            for (int n = 0; n < 6; ++n)
                sf.longBands[n] = static_cast<int>(r.GetBits(lengths[0]));
            band = 3;
            part = 1;
        }
        for (; part < 4; ++part)
            for (int n = 0; n < counts[part] && band < 12; ++n, ++band)
                for (int w = 0; w < 3; ++w)
                    sf.shortBands[w][band] = static_cast<int>(r.GetBits(lengths[part]));
    }
    if (intensityRight) {
        LsfIntensityRecord& rec = s.lsfIntensity;
        for (int part = 0; part < 4; ++part) {
            rec.bandCounts[part] = counts[part];
            rec.slen[part] = lengths[part];
        }
        rec.intensityScale = sfc & 1;
    }
}

// Huffman data of one channel granule into s.quantized[ch]; returns the
// nonzero extent, or -1 when the reader ran past the channel's data.
int decodeChannelData(Layer3State& s, int gr, int ch)
{
    const GranuleSideInfo& g = s.side[gr][ch];
    BitReader& r = s.reader;
    const int startBit = s.bitPosition;
    const int startByte = startBit / 8;
    r.BitReaderStart(s.mainData + startByte, static_cast<std::int32_t>(sizeof s.mainData) - startByte);
    r.GetBits(startBit % 8);
    s.bitPosition += g.part2_3_length;
    r.BitReaderSetEnd(s.mainData + (s.bitPosition + 39) / 8);

    if (s.versionRow == 1)
        ReadMpeg1ScaleFactors(s, r, gr, ch);
    else
        readLsfScaleFactors(s, r, ch);

    std::int32_t* q = s.quantized[ch];
    const int lines = std::min(2 * g.big_values, s.decodedLineLimit);
    const int* start = s.bands.longStart;
    const int region1 = std::min<int>(start[std::min(g.region0_count + 1, 22)], lines);
    const int region2 = std::min<int>(start[std::min(g.region0_count + g.region1_count + 2, 22)], lines);
    const GranuleCodes codes{{region1, region2, lines},
                             {g.table_select[0], g.table_select[1], g.table_select[2]},
                             g.part2_3_length + startBit % 8,
                             g.count1table_select != 0};
    const int count1 = DecodeGranuleCodes(r, q, codes);
    if (count1 < 0) {
        std::fill(q, q + 576, 0);
        return 0;
    }
    const int extent = lines + count1;
    const int blockLimit = g.block_type == 2 ? s.shortLineLimit : s.longLineLimit;
    std::fill(q + std::min(extent, blockLimit), q + 576, 0);
    return extent;
}

int bandEndLine(const BandLayout& bands, const RequantResult& result)
{
    const int last = result.lastNonzeroBand;
    return result.shortBlocks ? bands.shortStart3[last + 1] : bands.longStart[last + 1];
}

int hybridBlockType(const GranuleSideInfo& g)
{
    return g.block_type + (g.window_switching_flag && g.mixed_block_flag ? kMixedBlockBit : 0);
}

struct HybridLines {
    int longLines;
    int allLines;
};

HybridLines hybridLines(const Layer3State& s, const GranuleSideInfo& g, int extent)
{
    const int limit = s.decodedLineLimit;
    extent = std::min(extent, limit);
    if (g.block_type != 2)
        return {extent, extent};
    const int longPart = g.mixed_block_flag ? s.bands.longStart[s.bands.mixedLongBands] : 0;
    return {std::min(longPart, extent), extent};
}

void filterChannel(Layer3State& s, int gr, int ch, int slot, int previous)
{
    const GranuleSideInfo& g = s.side[gr][ch];
    const HybridLines lines = hybridLines(s, g, s.extent[slot][ch]);
    const int overlap = std::min(s.extent[previous][ch], s.decodedLineLimit);
    const int covered = decoderDispatch().HybridFilter(s.spectrum[ch][slot], s.spectrum[ch][previous], s.block,
                                                       hybridBlockType(g), lines.longLines, lines.allLines, overlap,
                                                       s.synthSubbands);
    s.extent[slot][ch] = covered;
    InvertOddSubbands(s.block, covered);
}

void mixToMono(Layer3State& s, int gr, int slot, int previous)
{
    const GranuleSideInfo& g0 = s.side[gr][0];
    const GranuleSideInfo& g1 = s.side[gr][1];
    if (g0.block_type == g1.block_type && !g0.mixed_block_flag && !g1.mixed_block_flag) {
        const int lines = std::min(std::max(s.extent[slot][0], s.extent[slot][1]), s.decodedLineLimit);
        for (int k = 0; k < lines; ++k)
            s.spectrum[0][slot][k] += s.spectrum[1][slot][k];
        s.extent[slot][0] = std::max(s.extent[slot][0], lines);
        filterChannel(s, gr, 0, slot, previous);
        return;
    }
    const HybridLines lines0 = hybridLines(s, g0, s.extent[slot][0]);
    const int overlap = std::min(s.extent[previous][0], s.decodedLineLimit);
    const int covered0 = decoderDispatch().HybridFilter(s.spectrum[0][slot], s.spectrum[0][previous], s.block,
                                                        hybridBlockType(g0), lines0.longLines, lines0.allLines, overlap,
                                                        s.synthSubbands);
    const HybridLines lines1 = hybridLines(s, g1, s.extent[slot][1]);
    const int covered1 = HybridFilterAdd(s.spectrum[1][slot], s.spectrum[0][slot], s.block, hybridBlockType(g1),
                                         lines1.longLines, lines1.allLines, s.synthSubbands);
    s.extent[slot][0] = covered0;
    InvertOddSubbands(s.block, std::max(covered0, covered1));
}

// A frame whose channel count differs from the stream's: a mono frame in a
// stereo stream sounds on both output channels, a stereo frame in a mono
// stream gives its left channel.
void outputOtherLayout(Layer3State& s, SynthesisState& synthesis, int gr, int slot, std::int16_t* out)
{
    const int previous = slot ^ 1;
    filterChannel(s, gr, 0, slot, previous);
    if (s.outputChannels == 2) {
        // The right channel's filter bank and overlap rest until the stream
        // turns stereo again.
        SynthesiseGranule(synthesis, 0, s.block, out, true);
        for (int i = 0; i < 576; ++i)
            out[2 * i + 1] = out[2 * i];
    } else {
        SynthesiseGranule(synthesis, 0, s.block, out, false);
    }
}

void outputGranule(Layer3State& s, SynthesisState& synthesis, int gr, int slot, std::int16_t* out)
{
    const int previous = slot ^ 1;
    if (s.frameChannels != s.channels) {
        outputOtherLayout(s, synthesis, gr, slot, out);
        return;
    }
    switch (s.channels == 1 ? ChannelChoice::LeftOnly : s.choice) {
    case ChannelChoice::Both:
        for (int ch = 0; ch < 2; ++ch) {
            filterChannel(s, gr, ch, slot, previous);
            SynthesiseGranule(synthesis, ch, s.block, out + ch, true);
        }
        break;
    case ChannelChoice::LeftOnly:
        filterChannel(s, gr, 0, slot, previous);
        SynthesiseGranule(synthesis, 0, s.block, out, false);
        break;
    case ChannelChoice::RightOnly:
        filterChannel(s, gr, 1, slot, previous);
        SynthesiseGranule(synthesis, 0, s.block, out, false);
        break;
    case ChannelChoice::MonoMix:
        mixToMono(s, gr, slot, previous);
        SynthesiseGranule(synthesis, 0, s.block, out, false);
        break;
    }
}

void decodeGranule(Layer3State& s, SynthesisState& synthesis, int gr, int slot, std::int16_t* out)
{
    const int channels = s.frameChannels;
    for (int ch = 0; ch < channels; ++ch)
        s.extent[slot][ch] = decodeChannelData(s, gr, ch);
    for (int ch = 0; ch < channels; ++ch)
        RequantiseGranule(s.tables, s.bands, s.quantized[ch], s.spectrum[ch][slot], s.extent[slot][ch],
                          s.scalefactors[gr][ch], s.side[gr][ch], s.requant[ch], s.reorder);

    float* left = s.spectrum[0][slot];
    float* right = s.spectrum[1][slot];
    int& extentLeft = s.extent[slot][0];
    int& extentRight = s.extent[slot][1];
    if (channels == 2) {
        if (s.midSide) {
            const int lines = s.intensity ? bandEndLine(s.bands, s.requant[1]) : std::max(extentLeft, extentRight);
            MidSideStereo(left, right, std::min(lines, 576));
        }
        if (s.intensity) {
            if (s.versionRow == 1)
                IntensityStereo1(s.tables, s.bands, left, right, s.scalefactors[gr][1], s.requant[1], extentLeft,
                                 s.midSide);
            else
                IntensityStereo2(s.tables, s.bands, left, right, s.scalefactors[gr][1], s.requant[0], s.requant[1],
                                 s.lsfIntensity, extentLeft, s.midSide);
        }
        if (s.modeExtension != 0)
            extentLeft = extentRight = std::max(extentLeft, extentRight);
    }
    for (int ch = 0; ch < channels; ++ch) {
        const GranuleSideInfo& g = s.side[gr][ch];
        int& extent = s.extent[slot][ch];
        if (g.block_type == 2 && !g.mixed_block_flag)
            continue;
        const int boundaries = AntialiasBoundaries(g, extent);
        decoderDispatch().Antialias(s.spectrum[ch][slot], boundaries);
        extent = std::max(extent, boundaries * 18 + 8);
    }
    if (s.lineEqualizerOn)
        for (int ch = 0; ch < channels; ++ch)
            for (int k = 0; k < s.extent[slot][ch]; ++k)
                s.spectrum[ch][slot][k] *= s.lineEqualizer[k];
    outputGranule(s, synthesis, gr, slot, out);
}

} // namespace

bool SetupLayer3Stream(Layer3State& s, SynthesisState& synthesis, const MpegFrameHeader& h,
                       std::int32_t frameLengthHint, int shift, std::uint8_t outputFlags, std::int32_t cutoffHz)
{
    if (layerNumber(h) != 3 || shift != 0 || h.SampleRateIndex > 2)
        return false;
    s.versionRow = h.VersionId == 1 ? 1 : h.SyncKind == 2 ? 2 : 0;
    s.sampleIndex = h.SampleRateIndex;
    s.channels = h.Mode == 3 ? 1 : 2;
    s.frameChannels = s.channels;
    s.choice = static_cast<ChannelChoice>(outputFlags & 3);
    s.outputChannels = s.channels == 2 && s.choice == ChannelChoice::Both ? 2 : 1;

    const int fs = sampleRateHz(h);
    const int cutoff = std::max(cutoffHz, 1000);
    // All 32 subbands are synthesised when the cut-off allows: the highest
    // one carries signal at 32 kHz and below.
    s.subbandLimit = std::min((cutoff * 64 + fs / 2) / fs, 32);

    const int row = s.versionRow == 1 ? 0 : s.versionRow == 0 ? 1 : 2;
    buildBandLayout(s.bands, kBandBoundaries[row][s.sampleIndex], s.versionRow);
    const bool mpeg1 = s.versionRow == 1;
    // The last band (long 21, short 12) has no scale factor of its own but
    // carries coded lines in every version; it is decoded up to line 576.
    s.longLineLimit = 576;
    s.shortLineLimit = 576;
    s.decodedLineLimit = std::min(s.longLineLimit, s.subbandLimit * 18);
    s.longLineLimit = std::min(s.longLineLimit, s.decodedLineLimit);
    s.shortLineLimit = std::min(s.shortLineLimit, s.decodedLineLimit);
    s.synthSubbands = (s.decodedLineLimit + 17) / 18;

    s.globalGainOffset = s.channels == 2 && s.choice == ChannelChoice::MonoMix ? -4 : 0;
    s.samplesPerChannel = mpeg1 ? 1152 : 576;
    s.outputBytesPerFrame = s.outputChannels * s.samplesPerChannel * 2;
    s.frameLengthHint = frameLengthHint;
    s.frameLength = frameLengthHint;

    s.mainDataFill = 0;
    s.mainDataStart = 0;
    s.tables.build();
    SynthesisReset(synthesis);
    std::fill(std::begin(s.block), std::end(s.block), 0.0f);
    for (auto& channel : s.spectrum)
        for (auto& slot : channel)
            std::fill(std::begin(slot), std::end(slot), 0.0f);
    for (auto& slot : s.extent)
        slot[0] = slot[1] = 0;
    for (auto& granule : s.scalefactors)
        granule[0] = granule[1] = ScaleFactorSet{};
    s.lsfSlot = 0;
    return true;
}

FrameDecodeResult DecodeLayer3Frame(Layer3State& s, SynthesisState& synthesis, const std::uint8_t* frame,
                                    std::int32_t available, std::int16_t* pcm)
{
    ++s.framesDecoded;
    if (available < 4)
        return {};
    // A buffer shorter than the side information reads as zeros past its
    // end (and a frame longer than the buffer is rejected below).
    BitReader& r = s.reader;
    r.BitReaderStart(frame, available);
    const std::uint32_t sync = r.GetBits(12);
    const bool mpeg1 = s.versionRow == 1;
    if (sync != 0xFFF && (mpeg1 || sync != 0xFFE))
        return {};
    if (!mpeg1 && (sync == 0xFFE) != (s.versionRow == 2))
        return {};

    int bitRateIndex = 0, sampleIndex = 0, padding = 0, frameChannels = 0;
    bool crc = false;
    if (!parseSideInfo(s, r, bitRateIndex, sampleIndex, padding, crc, frameChannels))
        return {};
    const int headBytes = 4 + sideInfoBytes(mpeg1, frameChannels);
    const int crcBytes = crc ? 2 : 0;

    if (bitRateIndex != 0) {
        const int kbps = kBitRateKbps[3][mpeg1 ? 1 : 0][bitRateIndex];
        const int r50 = kSampleRate50[mpeg1 ? 1 : 0][sampleIndex];
        s.frameLength = (s.versionRow == 0 ? 1440 : 2880) * kbps / r50;
    }
    const int fullLength = s.frameLength + padding;
    if (fullLength > available)
        return {};

    s.mainDataStart = s.mainDataFill - s.mainDataBegin;
    if (s.mainDataFill > kCompactAbove) {
        std::memmove(s.mainData, s.mainData + s.mainDataFill - s.mainDataBegin,
                     static_cast<std::size_t>(s.mainDataBegin));
        s.mainDataFill = s.mainDataBegin;
        s.mainDataStart = 0;
    }
    const int mainBytes = fullLength - headBytes - crcBytes;
    if (mainBytes < 0 || mainBytes > kMainDataSize || s.mainDataFill + mainBytes > kMainDataSize)
        return {};
    std::memcpy(s.mainData + s.mainDataFill, frame + headBytes + crcBytes, static_cast<std::size_t>(mainBytes));
    s.mainDataFill += mainBytes;

    if (s.mainDataStart < 0) {
        std::memset(pcm, 0, static_cast<std::size_t>(s.outputBytesPerFrame));
    } else {
        s.bitPosition = s.mainDataStart * 8;
        if (mpeg1) {
            const int granuleSamples = 576 * s.outputChannels;
            decodeGranule(s, synthesis, 0, 0, pcm);
            decodeGranule(s, synthesis, 1, 1, pcm + granuleSamples);
        } else {
            decodeGranule(s, synthesis, 0, s.lsfSlot, pcm);
        }
    }
    if (!mpeg1)
        s.lsfSlot ^= 1;
    return {fullLength, s.outputBytesPerFrame};
}

} // namespace morvik::mpeg
