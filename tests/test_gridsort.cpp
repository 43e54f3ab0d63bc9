#include "app/gridsort.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace morvik::sorting;

// The exchange sort row by row, as the grid does it: the reference the fast
// one must match, exchange for exchange.
template <class Key, class Before>
SortOutcome referenceSort(std::vector<Key> keys, Before before)
{
    SortOutcome out;
    const auto n = static_cast<std::int32_t>(keys.size());
    for (std::int32_t i = 0; i < n; ++i)
        out.order.push_back(i);
    for (std::int32_t i = 0; i < n; ++i) {
        for (std::int32_t j = i + 1; j < n; ++j) {
            const auto a = static_cast<std::size_t>(i);
            const auto b = static_cast<std::size_t>(j);
            const std::optional<bool> exchange = before(keys[b], keys[a]);
            if (!exchange) {
                out.notInteger = out.order[before(keys[b], keys[b]) ? a : b];
                return out;
            }
            if (*exchange) {
                std::swap(keys[a], keys[b]);
                std::swap(out.order[a], out.order[b]);
                ++out.exchanges;
            }
        }
    }
    return out;
}

SortOutcome referenceTextSort(const std::vector<std::string>& keys, bool descending)
{
    return referenceSort(keys, [&](const std::string& j, const std::string& i) -> std::optional<bool> {
        return descending ? i < j : i > j;
    });
}

// nullopt when either text is not an integer (the row j's text first).
SortOutcome referenceTrackSort(const std::vector<std::string>& texts, bool descending)
{
    return referenceSort(texts, [&](const std::string& j, const std::string& i) -> std::optional<bool> {
        const auto vj = trackNumber(j);
        const auto vi = trackNumber(i);
        if (!vj || !vi)
            return std::nullopt;
        return descending ? *vj > *vi : *vj < *vi;
    });
}

std::vector<std::optional<std::int32_t>> numbers(const std::vector<std::string>& texts)
{
    std::vector<std::optional<std::int32_t>> out;
    for (const auto& text : texts)
        out.push_back(trackNumber(text));
    return out;
}

template <class T> std::vector<T> permuted(const std::vector<T>& rows, const std::vector<std::int32_t>& order)
{
    std::vector<T> out;
    for (std::int32_t from : order)
        out.push_back(rows[static_cast<std::size_t>(from)]);
    return out;
}

std::vector<std::string> sortedTexts(const std::vector<std::string>& texts, bool descending)
{
    return permuted(texts, exchangeSort(texts, descending).order);
}

TEST(GridSort, TextsByUnsignedBytes)
{
    using V = std::vector<std::string>;
    struct Case {
        V texts;
        bool descending;
        V sorted;
    };
    const Case cases[] = {
        {{"b", "a", "d"}, true, {"d", "b", "a"}},
        {{"d", "b", "a"}, false, {"a", "b", "d"}},
        {{"10", "9", ""}, false, {"", "10", "9"}},
        {{"a", "Z", "ab", ""}, false, {"", "Z", "a", "ab"}},
        {{"\x7f", "\x80", "\xff", "\x01"}, false, {"\x01", "\x7f", "\x80", "\xff"}},
        {{}, true, {}},
        {{"only"}, false, {"only"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sortedTexts(c.texts, c.descending), c.sorted);
}

TEST(GridSort, JapaneseSortsByShiftJisBytes)
{
    // "亜" is 0x889F and "一" 0x88EA in Shift-JIS: the other way round in
    // Unicode. Half-width "ｱ" (0xB1) comes after both; a character
    // Shift-JIS lacks comes last.
    const std::vector<std::string> texts = {"\U0001F3B5", "ｱ", "一", "亜", "A"};
    std::vector<std::string> keys;
    for (const auto& text : texts)
        keys.push_back(cp932SortKey(text));
    EXPECT_EQ(keys[3], "\x88\x9f");
    EXPECT_EQ(permuted(texts, exchangeSort(keys, false).order),
              (std::vector<std::string>{"A", "亜", "一", "ｱ", "\U0001F3B5"}));
    // Characters outside Shift-JIS order among themselves by code point.
    EXPECT_LT(cp932SortKey("x\u00e9"), cp932SortKey("x\U0001F3B5"));
    EXPECT_LT(cp932SortKey("亜\U0001F3B5"), cp932SortKey("一"));
}

TEST(GridSort, TrackNumbers)
{
    const std::pair<std::string, std::optional<std::int32_t>> cases[] = {
        {"", 0},          {"12", 12},           {" 7", 7},       {"+3", 3},
        {"-2", -2},       {"007", 7},           {"2147483647", 2147483647},
        {"7 ", std::nullopt}, {"x", std::nullopt}, {" ", std::nullopt}, {"+-1", std::nullopt},
        {"+", std::nullopt},  {"2147483648", std::nullopt}, {"１", std::nullopt},
        {"1/12", 1},      {"10/12", 10},        {"1/", std::nullopt}, {"1/x", std::nullopt}, {"1/2/3", std::nullopt},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(trackNumber(text), value) << text;

    // Numeric, an empty cell counting as 0.
    const std::vector<std::string> texts = {"10", "9", ""};
    const std::vector<std::string> ofTwelve = {"10/12", "9/12", "2/12"};
    EXPECT_EQ(permuted(ofTwelve, exchangeSort(numbers(ofTwelve), false).order),
              (std::vector<std::string>{"2/12", "9/12", "10/12"}));
    EXPECT_EQ(permuted(texts, exchangeSort(numbers(texts), false).order), (std::vector<std::string>{"", "9", "10"}));
    EXPECT_EQ(permuted(texts, exchangeSort(numbers(texts), true).order), (std::vector<std::string>{"10", "9", ""}));
}

TEST(GridSort, ATrackThatIsNoIntegerStopsTheSortKeepingTheExchangesMade)
{
    struct Case {
        std::vector<std::string> texts;
        bool descending;
        std::vector<std::int32_t> order;
        std::int32_t bad;
    };
    const Case cases[] = {
        // (1,5): exchanged; then "x" stops the sort.
        {{"1", "5", "x"}, true, {1, 0, 2}, 2},
        {{"3", "x", "1"}, false, {0, 1, 2}, 1},
        // Row j's text is converted first.
        {{"a", "b"}, false, {0, 1}, 1},
        {{"a", "2"}, false, {0, 1}, 0},
        // Found in the first pass even near the end.
        {{"4", "3", "2", "1", "?"}, false, {3, 0, 1, 2, 4}, 4},
    };
    for (const Case& c : cases) {
        const SortOutcome out = exchangeSort(numbers(c.texts), c.descending);
        EXPECT_EQ(out.order, c.order);
        ASSERT_TRUE(out.notInteger.has_value());
        EXPECT_EQ(*out.notInteger, c.bad);
    }
    // One row: no comparison, so no error.
    EXPECT_FALSE(exchangeSort(numbers({"x"}), false).notInteger.has_value());
}

// Random columns with many equal keys: the result and the number of
// exchanges match the row-by-row sort in both directions.
TEST(GridSort, MatchesTheRowByRowExchangeSort)
{
    std::mt19937 random(12);
    for (int round = 0; round < 200; ++round) {
        const auto rows = static_cast<std::size_t>(random() % 40);
        const int alphabet = 1 + static_cast<int>(random() % 6);
        std::vector<std::string> texts(rows);
        for (auto& text : texts) {
            const auto length = random() % 3;
            for (std::size_t k = 0; k < length; ++k)
                text += static_cast<char>("aZ9\x80\xff-"[random() % static_cast<unsigned>(alphabet)]);
        }
        std::vector<std::string> tracks(rows);
        for (auto& track : tracks)
            track = round % 5 == 0 && random() % 30 == 0 ? "n/a" : std::to_string(random() % 8);
        for (bool descending : {false, true}) {
            const SortOutcome fast = exchangeSort(texts, descending);
            const SortOutcome slow = referenceTextSort(texts, descending);
            ASSERT_EQ(fast.order, slow.order);
            EXPECT_EQ(fast.exchanges, slow.exchanges);
            const SortOutcome fastTracks = exchangeSort(numbers(tracks), descending);
            const SortOutcome slowTracks = referenceTrackSort(tracks, descending);
            ASSERT_EQ(fastTracks.order, slowTracks.order);
            EXPECT_EQ(fastTracks.exchanges, slowTracks.exchanges);
            EXPECT_EQ(fastTracks.notInteger, slowTracks.notInteger);
        }
    }
}

TEST(GridSort, FittedWidth)
{
    using W = std::vector<std::int32_t>;
    EXPECT_EQ(fittedWidth(W{}), std::nullopt); // no rows: the width stays
    EXPECT_EQ(fittedWidth(W{0}), 4);
    EXPECT_EQ(fittedWidth(W{10, 30, 20}), 34);
    EXPECT_EQ(fittedWidth(W{-4}), std::nullopt);
}

TEST(GridSort, DoubleClickNearARightBorder)
{
    // Borders at 65, 130, 195, ... (each column plus its grid line).
    const std::vector<std::int32_t> widths(8, 64);
    const std::pair<std::int32_t, std::optional<std::int32_t>> cases[] = {
        {191, 2}, {190, std::nullopt}, {199, 2}, {200, std::nullopt}, {195, 2},
        {61, 0},  {0, std::nullopt},   {455, 6}, {520, std::nullopt}, // column 7 is never fitted
    };
    for (const auto& [x, col] : cases)
        EXPECT_EQ(borderColumn(widths, x, 1), col) << x;
    // Grid lines inside the cells: borders at 64, 128, 192, ...
    EXPECT_EQ(borderColumn(widths, 188, 0), 2);
    EXPECT_EQ(borderColumn(widths, 187, 0), std::nullopt);
    EXPECT_EQ(borderColumn(widths, 196, 0), 2);
}

} // namespace
