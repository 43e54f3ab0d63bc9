#include "app/gridsort.h"

#include "platform/textcodec.h"

#include <algorithm>
#include <charconv>
#include <numeric>

namespace morvik::sorting {
namespace {

// Past every CP932 byte sequence: no CP932 character starts with 0xFF.
constexpr char kOutsideCp932 = '\xFF';

std::size_t utf8Length(unsigned char lead)
{
    if (lead >= 0xF0)
        return 4;
    if (lead >= 0xE0)
        return 3;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

// Equal keys get equal ranks; a greater key a greater rank. Descending
// negates them, so both directions exchange on "rank j < rank i".
template <class Key, class Less>
std::vector<std::int64_t> ranksOf(std::span<const Key> keys, bool descending, Less less)
{
    std::vector<std::int32_t> byKey(keys.size());
    std::iota(byKey.begin(), byKey.end(), 0);
    std::stable_sort(byKey.begin(), byKey.end(), [&](std::int32_t a, std::int32_t b) {
        return less(keys[static_cast<std::size_t>(a)], keys[static_cast<std::size_t>(b)]);
    });
    std::vector<std::int64_t> ranks(keys.size());
    std::int64_t rank = 0;
    for (std::size_t k = 0; k < byKey.size(); ++k) {
        const auto at = static_cast<std::size_t>(byKey[k]);
        if (k > 0 && less(keys[static_cast<std::size_t>(byKey[k - 1])], keys[at]))
            ++rank;
        ranks[at] = descending ? -rank : rank;
    }
    return ranks;
}

// The exchange sort on ranks. For a fixed i the row held at i only ever
// changes to a smaller rank, and the row it gives up goes to j, so one pass
// is a walk over j. `usable(row)` false stops the sort at the first
// comparison that meets the row (j is looked at before i).
template <class Usable>
SortOutcome exchangeByRanks(const std::vector<std::int64_t>& ranks, Usable usable)
{
    SortOutcome out;
    const auto n = static_cast<std::int32_t>(ranks.size());
    out.order.resize(ranks.size());
    std::iota(out.order.begin(), out.order.end(), 0);
    auto& order = out.order;
    for (std::int32_t i = 0; i < n; ++i) {
        std::int32_t held = order[static_cast<std::size_t>(i)];
        for (std::int32_t j = i + 1; j < n; ++j) {
            const std::int32_t other = order[static_cast<std::size_t>(j)];
            if (!usable(other) || !usable(held)) {
                out.notInteger = usable(other) ? held : other;
                return out;
            }
            if (ranks[static_cast<std::size_t>(other)] < ranks[static_cast<std::size_t>(held)]) {
                order[static_cast<std::size_t>(i)] = other;
                order[static_cast<std::size_t>(j)] = held;
                held = other;
                ++out.exchanges;
            }
        }
    }
    return out;
}

// "/" and the count of tracks, as ID3v2 tags write "track n of m" ("2/12"):
// such a track sorts by n.
bool isTrackCount(std::string_view rest)
{
    return rest.size() >= 2 && rest[0] == '/' &&
           rest.find_first_not_of("0123456789", 1) == std::string_view::npos;
}

} // namespace

std::optional<std::int32_t> trackNumber(std::string_view text)
{
    if (text.empty())
        return 0;
    std::size_t at = text.find_first_not_of(' ');
    if (at == std::string_view::npos)
        return std::nullopt;
    // from_chars takes "-" but not "+".
    if (text[at] == '+' && at + 1 < text.size() && text[at + 1] != '-')
        ++at;
    std::int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data() + at, end, value);
    if (error != std::errc())
        return std::nullopt;
    if (stop != end && !isTrackCount(std::string_view(stop, static_cast<std::size_t>(end - stop))))
        return std::nullopt;
    return value;
}

std::string cp932SortKey(std::string_view utf8)
{
    Cp932Encoding whole = utf8ToCp932(utf8);
    if (whole.ok)
        return std::move(whole.bytes);
    // Character by character: those CP932 holds as their bytes, the others
    // as 0xFF and their UTF-8 bytes (UTF-8 orders by code point).
    std::string key;
    for (std::size_t at = 0; at < utf8.size();) {
        const std::string_view character = utf8.substr(at, utf8Length(static_cast<unsigned char>(utf8[at])));
        const Cp932Encoding one = utf8ToCp932(character);
        if (one.ok) {
            key += one.bytes;
        } else {
            key += kOutsideCp932;
            key += character;
        }
        at += character.size();
    }
    return key;
}

SortOutcome exchangeSort(std::span<const std::string> keys, bool descending)
{
    const auto ranks = ranksOf(keys, descending, std::less<std::string>());
    return exchangeByRanks(ranks, [](std::int32_t) { return true; });
}

SortOutcome exchangeSort(std::span<const std::optional<std::int32_t>> numbers, bool descending)
{
    const auto ranks = ranksOf(numbers, descending, [](const std::optional<std::int32_t>& a,
                                                       const std::optional<std::int32_t>& b) {
        return a.value_or(0) < b.value_or(0);
    });
    return exchangeByRanks(ranks, [&](std::int32_t row) { return numbers[static_cast<std::size_t>(row)].has_value(); });
}

std::optional<std::int32_t> fittedWidth(std::span<const std::int32_t> textWidths)
{
    std::int32_t width = 1;
    for (std::int32_t text : textWidths)
        width = std::max(width, text + kFitMargin);
    if (width > 1)
        return width;
    return std::nullopt;
}

std::optional<std::int32_t> borderColumn(std::span<const std::int32_t> colWidths, std::int32_t mouseX,
                                         std::int32_t gridLineWidth)
{
    std::int64_t border = 0;
    const auto count = std::min<std::size_t>(colWidths.size(), kFittedColumns);
    for (std::size_t col = 0; col < count; ++col) {
        border += std::int64_t{colWidths[col]} + gridLineWidth;
        if (border - 5 < mouseX && mouseX < border + 5)
            return static_cast<std::int32_t>(col);
    }
    return std::nullopt;
}

} // namespace morvik::sorting
