// The decisions of the player controls: the record a grid row plays, the
// wrap of next and previous, and what an end of play starts. (The repeat
// marks are tested through the window's menu.)
#include "app/playback.h"

#include <gtest/gtest.h>

#include <climits>

using namespace morvik;
using namespace morvik::playback;

namespace {

constexpr std::optional<std::int32_t> none = std::nullopt;

TEST(Playback, RowsThatHoldNoLoadedFilePlayNothing)
{
    struct Case {
        std::int32_t row, count;
        std::optional<std::int32_t> record;
    };
    const Case cases[] = {
        {1, 3, 0}, {3, 3, 2}, {4, 3, none}, {0, 3, none}, {-1, 3, none},
        {1, 0, none}, {INT_MIN, 3, none}, {INT_MAX, 3, none},
    };
    for (const Case& c : cases)
        EXPECT_EQ(recordOfRow(c.row, c.count), c.record) << c.row << " of " << c.count;
}

TEST(Playback, NextAndPreviousWrapAndRefuseIndexesOutsideTheList)
{
    struct Case {
        std::int32_t index, count;
        std::optional<std::int32_t> next, previous;
    };
    const Case cases[] = {
        {0, 3, 1, 2},       // previous on the first plays the last
        {1, 3, 2, 0},
        {2, 3, 0, 1},       // next on the last plays the first
        {0, 1, 0, 0},       // one file: itself both ways
        {0, 0, none, none}, // nothing loaded
        {3, 3, none, none}, // left over from a larger folder
        {7, 3, none, none},
        {-1, 3, none, none},
        {INT_MAX, INT_MAX, none, none},
        {INT_MAX - 1, INT_MAX, 0, INT_MAX - 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(nextIndex(c.index, c.count), c.next) << c.index << " of " << c.count;
        EXPECT_EQ(previousIndex(c.index, c.count), c.previous) << c.index << " of " << c.count;
    }
}

TEST(Playback, EndOfPlayFollowsTheRepeatModeUnlessSwitchingOrFailed)
{
    using R = TRepeatMode;
    struct Case {
        bool switching;
        R mode;
        TMP3EndPlayReason reason;
        std::int32_t index, count;
        std::optional<std::int32_t> started;
    };
    const Case cases[] = {
        {false, R::Off, meprEndOfFile, 1, 3, none}, // playback simply ends
        {false, R::One, meprEndOfFile, 1, 3, 1},    // the same file again
        {false, R::All, meprEndOfFile, 1, 3, 2},
        {false, R::All, meprEndOfFile, 2, 3, 0},    // the list loops
        {false, R::One, meprStop, 1, 3, 1},         // a stop the window did not make
        {false, R::All, meprStop, 2, 3, 0},
        {true, R::One, meprEndOfFile, 1, 3, none},  // the window's own Stop
        {true, R::All, meprStop, 1, 3, none},
        {false, R::One, meprError, 1, 3, none},     // no loop of error boxes
        {false, R::All, meprError, 1, 3, none},
        {false, R::One, meprEndOfFile, 0, 0, none}, // nothing loaded
        {false, R::All, meprEndOfFile, 0, 0, none},
        {false, R::One, meprEndOfFile, 5, 3, none}, // index of an earlier folder
        {false, R::All, meprEndOfFile, 5, 3, none},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(indexAfterEnd(c.switching, c.mode, c.reason, c.index, c.count), c.started)
            << c.switching << " " << static_cast<int>(c.mode) << " " << static_cast<int>(c.reason) << " " << c.index
            << " of " << c.count;
    }
}

} // namespace
