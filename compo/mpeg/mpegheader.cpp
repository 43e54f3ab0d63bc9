#include "compo/mpeg/mpegheader.h"

namespace morvik::mpeg {

const std::int32_t kBitRateKbps[4][2][16] = {
    {},
    {// Layer I
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0}},
    {// Layer II
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0}},
    {// Layer III
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
};

const std::int32_t kSampleRate50[2][4] = {{441, 480, 320, -999}, {882, 960, 640, -999}};

namespace {

constexpr std::int32_t kMaxSearch = 10000;

bool isSync(const std::uint8_t* b)
{
    return b[0] == 0xFF && ((b[1] & 0xF0) == 0xF0 || (b[1] & 0xF0) == 0xE0);
}

std::int32_t lengthFromTables(const MpegFrameHeader& h)
{
    const std::int32_t kbps = kBitRateKbps[layerNumber(h)][h.VersionId][h.BitRateIndex];
    const std::int32_t r50 = kSampleRate50[h.VersionId][h.SampleRateIndex];
    switch (layerNumber(h)) {
    case 1:
        return (240 * kbps / r50) * 4;
    case 2:
        return 2880 * kbps / r50;
    default:
        if (h.VersionId == 0 && h.SyncKind == 1)
            return 1440 * kbps / r50;
        return 2880 * kbps / r50;
    }
}

} // namespace

std::int32_t sampleRateHz(const MpegFrameHeader& h)
{
    const std::int32_t r50 = kSampleRate50[h.VersionId & 1][h.SampleRateIndex & 3];
    if (r50 <= 0)
        return r50;
    return h.SyncKind == 2 && h.VersionId == 0 ? r50 * 25 : r50 * 50;
}

std::uint32_t headerWord(const std::uint8_t* b)
{
    return std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24;
}

std::int32_t ParseFrameHeader(const std::uint8_t* bytes, std::int32_t length, MpegFrameHeader& h)
{
    if (length > kMaxSearch)
        length = kMaxSearch;
    h = MpegFrameHeader{};
    if (!isSync(bytes))
        return 0;
    h.SyncKind = (bytes[1] & 0xF0) == 0xF0 ? 1 : 2;
    h.VersionId = (bytes[1] >> 3) & 1;
    h.LayerCode = (bytes[1] >> 1) & 3;
    h.ProtectionBit = bytes[1] & 1;
    h.BitRateIndex = bytes[2] >> 4;
    h.SampleRateIndex = (bytes[2] >> 2) & 3;
    h.PaddingBit = (bytes[2] >> 1) & 1;
    h.PrivateBit = bytes[2] & 1;
    h.Mode = bytes[3] >> 6;
    h.ModeExtension = (bytes[3] >> 4) & 3;
    h.Copyright = (bytes[3] >> 3) & 1;
    h.Original = (bytes[3] >> 2) & 1;
    h.Emphasis = bytes[3] & 3;
    if (h.LayerCode == 0)
        return 0;
    if (h.BitRateIndex == 0)
        return FindFreeFormatLength(bytes, length);
    return lengthFromTables(h);
}

std::int32_t ParseHeaderAndBitRate(const std::uint8_t* bytes, std::int32_t length, MpegFrameHeader& h,
                                   std::int32_t& bitRate)
{
    const std::int32_t frameLength = ParseFrameHeader(bytes, length, h);
    bitRate = 0;
    if (frameLength == 0)
        return 0;
    if (h.BitRateIndex >= 1) {
        bitRate = kBitRateKbps[layerNumber(h)][h.VersionId][h.BitRateIndex] * 1000;
        return frameLength;
    }
    const std::int64_t r50 = kSampleRate50[h.VersionId][h.SampleRateIndex];
    const std::int64_t l = frameLength;
    std::int64_t rate = 0;
    if (layerNumber(h) == 1)
        rate = l * r50 * 1000 / 960;
    else if (layerNumber(h) == 2 || h.VersionId == 1)
        rate = l * r50 * 1000 / 2880;
    else
        rate = ((l * r50) << (h.SyncKind == 2 ? 2 : 3)) * 125 / 1440;
    bitRate = static_cast<std::int32_t>(rate);
    return frameLength;
}

std::int32_t FindFrameSync(const std::uint8_t* bytes, std::int32_t length, MpegFrameHeader& h,
                           std::int32_t& bitRate, std::int32_t& skipped)
{
    for (std::int32_t i = 0; i + 1 < length; ++i) {
        if (!isSync(bytes + i))
            continue;
        skipped = i;
        // The header needs four bytes; a sync in the last three gives none.
        if (length - i < 4) {
            h = MpegFrameHeader{};
            bitRate = 0;
            return 0;
        }
        return ParseHeaderAndBitRate(bytes + i, length - i, h, bitRate);
    }
    return 0;
}

std::int32_t FindFreeFormatLength(const std::uint8_t* bytes, std::int32_t length)
{
    if (length > kMaxSearch)
        length = kMaxSearch;
    const std::int32_t slot = ((bytes[1] >> 1) & 3) == 3 ? 4 : 1;
    const std::int32_t pad = (bytes[2] >> 1) & 1;
    const std::int32_t limit = length - 3;
    std::int32_t from = 24;
    while (from < 2000) {
        std::int32_t d = from;
        while (d < limit && !(bytes[d] == bytes[0] && bytes[d + 1] == bytes[1]))
            ++d;
        if (d >= limit)
            return 0;
        const std::int32_t candidate = d - pad * slot;
        if (candidate <= 0)
            return 0;
        std::int32_t p = 0;
        int matches = 0;
        bool broken = false;
        for (;;) {
            p += candidate + ((bytes[p + 2] >> 1) & 1) * slot;
            if (p > limit)
                break;
            if (bytes[p] != bytes[0] || bytes[p + 1] != bytes[1]) {
                broken = true;
                break;
            }
            ++matches;
        }
        if (!broken && matches >= 1)
            return candidate;
        from = d + 1;
    }
    return 0;
}

bool HeadersMatch(std::uint32_t reference, std::uint32_t candidate)
{
    return ((reference ^ candidate) & 0x000CFEFFu) == 0;
}

} // namespace morvik::mpeg
