// Sorting the loaded rows and fitting column widths, on keys and measured
// widths rather than on widgets.
//
// The sort is the grid's exchange sort: for each row i from the first, each
// later row j is compared with row i and the two are exchanged when out of
// order; equal keys are never exchanged. Its result and the sequence of its
// exchanges are kept exactly (they decide where equal keys end up, and which
// exchanges stand when a track number turns out not to be an integer), but
// they are computed on integer ranks of the keys, and the caller moves its
// rows once, by the resulting order.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace morvik::sorting {

// The column sorted by number; every other column sorts by bytes.
inline constexpr std::int32_t kTrackColumn = 6;

// The columns N6Click fits: 0 to 6 (the genre column keeps its width).
inline constexpr std::int32_t kFittedColumns = 7;

// What a fitted column adds to the widest text, in pixels.
inline constexpr std::int32_t kFitMargin = 4;

// A track cell's number: an empty text is 0; blanks before the number and a
// sign are allowed, and "n/m" (track n of m) is n. nullopt when the text is
// not a 32-bit decimal integer.
std::optional<std::int32_t> trackNumber(std::string_view text);

// The bytes a tag column's text sorts by: its CP932 (Shift-JIS) bytes, so
// ASCII and Japanese order as the file's own bytes do. A character CP932
// cannot hold sorts after every CP932 character, such characters among
// themselves by code point.
std::string cp932SortKey(std::string_view utf8);

struct SortOutcome {
    // order[p] is the index (into the keys given) of the row that ends at
    // position p.
    std::vector<std::int32_t> order;
    // The exchanges made.
    std::int64_t exchanges = 0;
    // The index of the track text that stopped the sort, or nullopt when it
    // ran to its end. The exchanges made before it stand in `order`.
    std::optional<std::int32_t> notInteger;
};

// Descending: row j goes before row i when its key is greater; ascending:
// when it is smaller. Keys compare as unsigned bytes; a key that begins
// another is the smaller.
SortOutcome exchangeSort(std::span<const std::string> keys, bool descending);

// The same by numbers; a row without a number stops the sort at the first
// comparison that meets it (row j's text is converted before row i's).
SortOutcome exchangeSort(std::span<const std::optional<std::int32_t>> numbers, bool descending);

// The width N6Click gives a column whose data texts measure `textWidths`:
// the widest plus kFitMargin, or nullopt (width unchanged) when that is not
// more than 1 pixel, as with no rows at all.
std::optional<std::int32_t> fittedWidth(std::span<const std::int32_t> textWidths);

// The column whose right border a double click at `mouseX` in the title row
// is on: within 4 pixels of the sum of the widths of the columns up to it,
// each with its grid line of `gridLineWidth` pixels (0 where the lines are
// drawn inside the cells). Only the fitted columns are looked at.
std::optional<std::int32_t> borderColumn(std::span<const std::int32_t> colWidths, std::int32_t mouseX,
                                         std::int32_t gridLineWidth);

} // namespace morvik::sorting
