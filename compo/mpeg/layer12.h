// Layer I and Layer II decoding: allocation, scale factors and samples into
// blocks of 32 subband samples per channel, then the synthesis.
#pragma once

#include "compo/mpeg/mpegheader.h"
#include "compo/mpeg/output.h"

#include <cstdint>

namespace morvik::mpeg {

struct SynthesisState;

// One Layer II allocation table: per subband the width of the allocation
// field and, per allocation value, the quantisation class (1..17 for 3, 5,
// 7, 9, 15, 31, ..., 65535 steps; 0 for none).
struct Layer2AllocTable {
    std::int32_t subbands;
    std::uint8_t allocBits[32];
    std::uint8_t classOf[32][16];
};

// B.2a, B.2b, B.2c, B.2d, then the table of the lower sampling frequencies.
extern const Layer2AllocTable kLayer2AllocTables[5];

// The table for an MPEG-1 Layer II stream by its mode, sampling index and
// bit-rate index; -1 when the standard allows no such stream.
int layer2TableIndex(int mode, int sampleIndex, int bitRateIndex);

struct Layer12State {
    int layer = 2;
    int channels = 2;
    int outputChannels = 2;
    ChannelChoice choice = ChannelChoice::Both;
    bool lsf = false;
    int subbandLimit = 32;  // subbands synthesised; the rest is read and dropped
    int samplesPerChannel = 1152;
    int outputBytesPerFrame = 0;
    int frameLengthHint = 0;
    const Layer2AllocTable* table = nullptr;

    // Per frame.
    std::int32_t allocation[2][32] = {};
    std::int32_t scaleIndex[2][32][3] = {};
    // Subband samples: [time step][slot], slot 2 s + channel (single
    // channel: slot s).
    alignas(16) float samples[36][64] = {};
};

bool SetupLayer12Stream(Layer12State& s, SynthesisState& synthesis, const MpegFrameHeader& h,
                        std::int32_t frameLengthHint, std::uint8_t outputFlags, std::int32_t cutoffHz);
FrameDecodeResult DecodeLayer12Frame(Layer12State& s, SynthesisState& synthesis, const std::uint8_t* frame,
                                     std::int32_t available, std::int16_t* pcm);

} // namespace morvik::mpeg
