// The special edit and the sort keys over arbitrary bytes (patterns typed by
// the user, tag fields and file names from untrusted files): every text is
// taken, and the sort order is a permutation of the rows.
#include "app/gridsort.h"
#include "app/specialedit.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Texts separated by NUL bytes: the pattern, then the rows' fields.
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> texts;
    for (std::size_t at = 0; at <= input.size();) {
        const std::size_t end = std::min(input.find('\0', at), input.size());
        texts.emplace_back(input.substr(at, end - at));
        at = end + 1;
    }
    const std::string pattern = texts.front();
    const auto rows = static_cast<std::int32_t>(texts.size() - 1);

    using namespace morvik;
    special::PatternNamer namer(pattern, rows);
    std::vector<std::string> keys;
    std::vector<std::optional<std::int32_t>> numbers;
    for (std::size_t i = 1; i < texts.size(); ++i) {
        const std::string& text = texts[i];
        const std::string name = namer.nameFor({text, text, pattern});
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".mp3") != 0)
            std::abort();
        const std::string title = special::titleFromFileName(text);
        if (title.size() > text.size())
            std::abort();
        special::fileNameFromTitle(text);
        keys.push_back(sorting::cp932SortKey(text));
        numbers.push_back(sorting::trackNumber(text));
    }
    for (bool descending : {false, true}) {
        auto order = sorting::exchangeSort(keys, descending).order;
        std::sort(order.begin(), order.end());
        for (std::size_t p = 0; p < order.size(); ++p)
            if (order[p] != static_cast<std::int32_t>(p))
                std::abort();
        sorting::exchangeSort(numbers, descending);
    }
    return 0;
}
