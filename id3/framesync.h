// Just enough of the MPEG audio frame header to tell where audio begins: the
// tag writer must never cut audio off a file whose ID3v2 size is wrong.
#pragma once

#include <cstddef>
#include <cstdint>

namespace morvik::id3 {

// The length in bytes of the frame whose four header bytes are at `p`, or 0
// when they are not a usable header (no sync, a reserved version, layer,
// bitrate or sample rate, or free format, whose length the header cannot
// tell).
std::uint32_t mpegFrameLength(const unsigned char* p);

// Whether two headers belong to one stream: same version, layer and sample
// rate.
bool sameMpegStream(const unsigned char* a, const unsigned char* b);

} // namespace morvik::id3
