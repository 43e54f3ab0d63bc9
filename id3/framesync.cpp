#include "id3/framesync.h"

namespace morvik::id3 {
namespace {

// Bitrates in kbit/s by [MPEG-1?][layer 1..3][index]; index 0 is free format.
constexpr std::uint16_t kBitrates[2][3][15] = {
    {// MPEG-2 and 2.5
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
    {// MPEG-1
     {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
};

// Sample rates in Hz by [version bits][index]; version bits 1 is reserved.
constexpr std::uint32_t kSampleRates[4][3] = {
    {11025, 12000, 8000},  // MPEG-2.5
    {0, 0, 0},
    {22050, 24000, 16000}, // MPEG-2
    {44100, 48000, 32000}, // MPEG-1
};

} // namespace

std::uint32_t mpegFrameLength(const unsigned char* p)
{
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return 0;
    const unsigned version = (p[1] >> 3) & 3;
    const unsigned layerBits = (p[1] >> 1) & 3;
    const unsigned bitrateIndex = p[2] >> 4;
    const unsigned rateIndex = (p[2] >> 2) & 3;
    if (version == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return 0;
    const unsigned layer = 4 - layerBits;
    const bool mpeg1 = version == 3;
    const std::uint32_t bitrate = kBitrates[mpeg1][layer - 1][bitrateIndex] * 1000u;
    const std::uint32_t rate = kSampleRates[version][rateIndex];
    const std::uint32_t padding = (p[2] >> 1) & 1;
    if (layer == 1)
        return (12 * bitrate / rate + padding) * 4;
    const std::uint32_t perFrame = (layer == 3 && !mpeg1) ? 72 : 144;
    return perFrame * bitrate / rate + padding;
}

bool sameMpegStream(const unsigned char* a, const unsigned char* b)
{
    return (a[1] & 0xFE) == (b[1] & 0xFE) && (a[2] & 0x0C) == (b[2] & 0x0C);
}

} // namespace morvik::id3
