// Data tables of Layer III from the MPEG audio standards: scale-factor band
// boundaries, scale-factor lengths and the LSF band partitions.
#pragma once

#include <cstdint>

namespace morvik::mpeg {

struct BandBoundaries {
    std::int16_t longBands[23];  // 0 .. 576
    std::int16_t shortBands[14];  // 0 .. 192
};

// [row][sampling index]: row 0 MPEG-1 (44.1, 48, 32 kHz), row 1 LSF (22.05,
// 24, 16 kHz), row 2 MPEG 2.5 (11.025, 12, 8 kHz).
extern const BandBoundaries kBandBoundaries[3][3];

// MPEG-1 (slen1, slen2) by scalefac_compress.
extern const std::uint8_t kSlenMpeg1[16][2];

// LSF scale-factor partitions, counted in bands: [row 0..5][block kind:
// 0 long, 1 short, 2 mixed][part]. Short and mixed counts are short bands
// (each read for three windows); a mixed row's first part is 6 long bands.
extern const std::uint8_t kLsfBandCounts[6][3][4];

// Pre-emphasis per long band.
extern const std::uint8_t kPretab[22];

} // namespace morvik::mpeg
