// MPEG audio frame headers: parsing, frame lengths, bit rates, the first
// sync of a stream, free-format length discovery and the stream consistency
// test. Plain functions over caller-owned bytes; none allocates or throws.
#pragma once

#include <cstdint>

namespace morvik::mpeg {

struct MpegFrameHeader {
    std::int32_t SyncKind = 0;  // 1 MPEG-1/2, 2 MPEG 2.5, 0 no sync
    std::int32_t VersionId = 0;  // 1 MPEG-1, 0 lower sampling frequencies
    std::int32_t LayerCode = 0;  // 1 Layer III, 2 Layer II, 3 Layer I
    std::int32_t ProtectionBit = 0;
    std::int32_t BitRateIndex = 0;
    std::int32_t SampleRateIndex = 0;
    std::int32_t PaddingBit = 0;
    std::int32_t PrivateBit = 0;
    std::int32_t Mode = 0;
    std::int32_t ModeExtension = 0;
    std::int32_t Copyright = 0;
    std::int32_t Original = 0;
    std::int32_t Emphasis = 0;
};

// Bit rate in kbit/s, [VersionId][BitRateIndex], one table per layer number
// (index 1 = Layer I ... 3 = Layer III). Entries 0 and 15 hold 0.
extern const std::int32_t kBitRateKbps[4][2][16];
// Sampling rate in units of 50 Hz, [VersionId][SampleRateIndex]; the reserved
// index holds -999 so that everything computed from it is <= 0.
extern const std::int32_t kSampleRate50[2][4];

inline int layerNumber(const MpegFrameHeader& h) { return 4 - h.LayerCode; }
// Sampling rate in Hz (MPEG 2.5 halves the lower row); <= 0 when reserved.
std::int32_t sampleRateHz(const MpegFrameHeader& h);

// Decodes the four bytes at `bytes` (at least 4 readable) and returns the
// frame length without padding: 0 when not a header, <= 0 when unusable.
// `length` bounds the free-format search (capped at 10000).
std::int32_t ParseFrameHeader(const std::uint8_t* bytes, std::int32_t length, MpegFrameHeader& header);
std::int32_t ParseHeaderAndBitRate(const std::uint8_t* bytes, std::int32_t length, MpegFrameHeader& header,
                                   std::int32_t& bitRate);
// First 0xFF Ex/Fx pair among `length` bytes; its offset goes to `skipped`.
std::int32_t FindFrameSync(const std::uint8_t* bytes, std::int32_t length, MpegFrameHeader& header,
                           std::int32_t& bitRate, std::int32_t& skipped);
std::int32_t FindFreeFormatLength(const std::uint8_t* bytes, std::int32_t length);
// Header words as little-endian 32-bit values of the first four bytes.
bool HeadersMatch(std::uint32_t reference, std::uint32_t candidate);
std::uint32_t headerWord(const std::uint8_t* bytes);

} // namespace morvik::mpeg
