// The clipboard text of a rows × cols block pasted by the grid benchmarks:
// Japanese titles, comma-separated, one row a line.
#pragma once

#include <cstdint>
#include <string>

namespace benchblock {

inline std::string clipboardBlock(std::int32_t rows, std::int32_t cols)
{
    std::string text;
    for (std::int32_t row = 0; row < rows; ++row) {
        if (row)
            text += "\r\n";
        for (std::int32_t col = 0; col < cols; ++col) {
            if (col)
                text += ',';
            text += "曲名 " + std::to_string(row) + "-" + std::to_string(col);
        }
    }
    return text;
}

} // namespace benchblock
