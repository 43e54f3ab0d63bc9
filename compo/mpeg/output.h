// What the layer decoders put out: the result of one frame, and the choice
// of output channels they are set up with.
#pragma once

#include <cstdint>

namespace morvik::mpeg {

struct FrameDecodeResult {
    std::int32_t frameBytes = 0;  // bytes of the frame consumed, padding included; 0 = rejected
    std::int32_t pcmBytes = 0;
};

// Which channels of a stereo stream come out; the values are those of the
// output flags (decoder.h).
enum class ChannelChoice : std::uint8_t { Both = 0, MonoMix = 1, LeftOnly = 2, RightOnly = 3 };

} // namespace morvik::mpeg
