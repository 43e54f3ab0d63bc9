// Layer III decoder state and stages. All of it belongs to one decoder
// object (compo/mpeg/decoder.h), which also owns the synthesis state it
// hands in; nothing here allocates while decoding a frame. The stereo and
// antialias stages are declared in compo/mpeg/stereo.h.
#pragma once

#include "compo/mpeg/bitreader.h"
#include "compo/mpeg/layer3tables.h"
#include "compo/mpeg/mpegheader.h"
#include "compo/mpeg/output.h"

#include <cstdint>

namespace morvik::mpeg {

struct SynthesisState;

struct GranuleSideInfo {
    std::int32_t part2_3_length = 0;
    std::int32_t big_values = 0;
    std::int32_t global_gain = 0;  // with the stream's and middle/side offsets
    std::int32_t scalefac_compress = 0;
    std::int32_t window_switching_flag = 0;
    std::int32_t block_type = 0;
    std::int32_t mixed_block_flag = 0;
    std::int32_t table_select[3] = {};
    std::int32_t subblock_gain[3] = {};
    std::int32_t region0_count = 0;
    std::int32_t region1_count = 0;
    std::int32_t preflag = 0;
    std::int32_t scalefac_scale = 0;
    std::int32_t count1table_select = 0;
};

struct ScaleFactorSet {
    std::int32_t longBands[23] = {};
    std::int32_t shortBands[3][13] = {};  // [window][band]
};

struct LsfIntensityRecord {
    std::int32_t bandCounts[4] = {};
    std::int32_t slen[4] = {};
    std::int32_t intensityScale = 0;
};

struct RequantResult {
    std::int32_t shortBlocks = 0;
    std::int32_t lastNonzeroBand = -1;
    std::int32_t firstShortBand = 12;
    std::int32_t longBandsProcessed = 0;
    std::int32_t lastNonzeroShort[3] = {-1, -1, -1};
};

// Stream-wide band description, derived from the boundary tables.
struct BandLayout {
    std::int32_t longStart[23] = {};  // 0 .. 576
    std::int32_t longWidth[22] = {};
    std::int32_t shortStart3[14] = {};  // 3 x short boundaries
    std::int32_t shortWidth[13] = {};
    std::int32_t mixedLongBands = 8;
};

struct Layer3Tables {
    float globalGain[262];
    float scaleMultiplier[2][4][32];
    float power[64];  // v = -32..31 at v + 32
    float subblockGain[8];
    float intensity1[2][8][2];  // [middle/side][position][left, right]
    float intensity2[2][2][64][2];  // [scale][middle/side][group entry][left, right]
    void build();
};

constexpr int kMainDataSize = 8192;
// Granule readers may run past the main data (part2_3_length is taken on
// trust). The bit reader reads zeros past its buffer; the buffer still
// carries room for four full-length granules beyond the main data, so that
// granule reads stay on the reader's fast path.
constexpr int kMainDataSlack = 4 * 512 + 64;

struct Layer3State {
    // Stream parameters.
    int versionRow = 1;  // 1 MPEG-1, 0 LSF, 2 MPEG 2.5
    int sampleIndex = 0;
    int channels = 2;  // coded channels
    int outputChannels = 2;
    ChannelChoice choice = ChannelChoice::Both;
    int subbandLimit = 31;
    int longLineLimit = 576;
    int shortLineLimit = 576;
    int decodedLineLimit = 576;
    int synthSubbands = 32;
    int globalGainOffset = 0;
    int samplesPerChannel = 1152;
    int outputBytesPerFrame = 0;
    int frameLengthHint = 0;
    BandLayout bands;

    // Per frame.
    int frameChannels = 2;  // a stream may switch between mono and stereo
    int frameLength = 0;  // without padding
    int modeExtension = 0;
    bool midSide = false;
    bool intensity = false;
    int granules = 2;
    int mainDataBegin = 0;
    int scfsi[2] = {};
    GranuleSideInfo side[2][2];  // [granule][channel]
    ScaleFactorSet scalefactors[2][2];  // [granule][channel]
    LsfIntensityRecord lsfIntensity;
    RequantResult requant[2];
    int lsfSlot = 0;

    // Bit reservoir.
    alignas(16) std::uint8_t mainData[kMainDataSize + kMainDataSlack] = {};
    int mainDataFill = 0;
    int mainDataStart = 0;
    int bitPosition = 0;
    BitReader reader;

    // Spectra: [channel][slot][576]; the idle slot holds the overlap.
    alignas(16) float spectrum[2][2][576] = {};
    int extent[2][2] = {};  // [slot][channel]
    std::int32_t quantized[2][576] = {};  // Huffman output per channel
    alignas(16) float block[576] = {};  // [time][subband]
    alignas(16) float reorder[576] = {};

    bool lineEqualizerOn = false;
    float lineEqualizer[576] = {};

    Layer3Tables tables;
    std::uint32_t framesDecoded = 0;
};

// `synthesis` is the decoder's, shared with Layers I and II: set-up clears
// it, every frame synthesises into it.
bool SetupLayer3Stream(Layer3State& s, SynthesisState& synthesis, const MpegFrameHeader& h,
                       std::int32_t frameLengthHint, int shift, std::uint8_t outputFlags, std::int32_t cutoffHz);
// `available` bounds every read of the frame's bytes.
FrameDecodeResult DecodeLayer3Frame(Layer3State& s, SynthesisState& synthesis, const std::uint8_t* frame,
                                    std::int32_t available, std::int16_t* pcm);

// Stages, exposed for tests.
void ReadMpeg1ScaleFactors(Layer3State& s, BitReader& r, int gr, int ch);
// Requantises the decoded values `in` into `out` (all 576 lines written).
void RequantiseGranule(const Layer3Tables& t, const BandLayout& bands, std::int32_t* in, float* out, int& extent,
                       const ScaleFactorSet& sf, const GranuleSideInfo& gi, RequantResult& result, float* reorder);

} // namespace morvik::mpeg
