// Where the main window was when it was last left: its normal (not
// maximised) geometry, whether it was maximised, and the width of the folder
// panel, kept in "tag.ini" under keys of our own. No widget here: the window
// measures itself and its screens and calls these.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace morvik {

class TProfileFile;

struct TScreenArea {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool operator==(const TScreenArea&) const = default;
};

struct TWindowPlace {
    TScreenArea frame;      // the normal geometry, in screen pixels
    bool maximized = false;
    std::int32_t panel = 0; // width of the folder panel left of the splitter
    bool operator==(const TWindowPlace&) const = default;
};

// The keys of "tag.ini" (section "women") that hold the place.
inline constexpr const char* kPlaceKeys[] = {"formleft", "formtop", "formwidth", "formheight", "formmax",
                                             "splitter"};

// The smallest size kept: a place below it (a hand-edited file) is not used.
inline constexpr std::int32_t kMinimumWindowWidth = 200;
inline constexpr std::int32_t kMinimumWindowHeight = 150;

// The place kept in `section`, or nothing when a key of it is missing or its
// size is unusable; the window then opens at its design size.
std::optional<TWindowPlace> readWindowPlace(const TProfileFile& ini, const std::string& section);

// Writes the keys whose value differs from what the file holds; false when
// the file could not be written.
bool writeWindowPlace(TProfileFile& ini, const std::string& section, const TWindowPlace& place);

// The frame moved, and shrunk where it must, to lie on `screen` (the
// available area of the screen it should open on), so a window kept on a
// screen since removed still opens where it can be seen.
TScreenArea fitOnScreen(TScreenArea frame, const TScreenArea& screen);

} // namespace morvik
