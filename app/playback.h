// The decisions behind the window's player controls: which loaded file Play,
// Next, Previous and the end of a file lead to, and how the two repeat items
// exclude each other. Plain functions over indexes into the loaded files;
// the window calls them and drives its player with the answers.
#pragma once

#include "compo/mp3plyr.h"

#include <cstdint>
#include <optional>

namespace morvik::playback {

// The check marks of "単曲リピート(&R)" (One) and "全曲リピート(&A)" (All):
// at most one is set.
enum class TRepeatMode { Off, One, All };

// A click on "単曲リピート(&R)" or "全曲リピート(&A)": toggles its own mark
// and clears the other.
TRepeatMode afterRepeatOneClick(TRepeatMode mode);
TRepeatMode afterRepeatAllClick(TRepeatMode mode);

// The record of grid row `row` (row 1 holds record 0), when that row holds
// one of the `count` loaded files.
std::optional<std::int32_t> recordOfRow(std::int32_t row, std::int32_t count);

// The file after and before `index`, wrapping round the `count` loaded files.
// None when nothing is loaded or `index` is not one of them (an index left
// over from a larger folder): the command then does nothing.
std::optional<std::int32_t> nextIndex(std::int32_t index, std::int32_t count);
std::optional<std::int32_t> previousIndex(std::int32_t index, std::int32_t count);

// The file to start when the playing one has ended, or none to let playback
// end. Nothing starts while the window is switching files (the end is its own
// Stop), without a repeat mode, or after an error: a file that fails as it
// plays must not restart into another error box.
std::optional<std::int32_t> indexAfterEnd(bool switching, TRepeatMode mode, TMP3EndPlayReason reason,
                                          std::int32_t index, std::int32_t count);

} // namespace morvik::playback
