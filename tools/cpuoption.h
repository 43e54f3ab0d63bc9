// The decoder-routine options of decode, render and play:
//   --cpu auto|none|reference   all six capabilities (the default), none, or
//                               every routine in its reference variant
//   --cpu-features WORD         the processor feature word (hexadecimal,
//                               with or without 0x) in place of the detected one
#pragma once

#include "commands.h"

#include <cstdint>

namespace morvik {
class TMP3Player;
}

namespace morvik::cli {

struct CpuChoice {
    enum Kind { Auto, None, Reference } kind = Auto;
    std::uint32_t featureWord = 0;  // 0: the detected word
};

extern const char* const kCpuUsage;

// Takes the leading options off `args`; false (with a message) on a bad one.
bool takeCpuOptions(Args& args, CpuChoice& choice);
// Fills the decoder's routine table for `decode`, as Play does for a player.
void selectDecoderRoutines(const CpuChoice& choice);
// Sets the player's capabilities and feature word from the choice.
void applyToPlayer(const CpuChoice& choice, TMP3Player& player);

} // namespace morvik::cli
