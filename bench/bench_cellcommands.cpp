// Speed of the grid's editing commands on the logic level: a paste of a
// 5,000-row × 7-column block, a serial-number run over 5,000 rows, a 10 MB
// clipboard, and undoing the paste. Prints figures; asserts nothing.
// Usage: bench_cellcommands [ROWS]
#include "app/cellcommands.h"
#include "clipboardblock.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace morvik::cells;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class VectorGrid : public CellTexts {
public:
    VectorGrid(std::int32_t cols, std::int32_t rows) : m_cols(cols), m_cells(static_cast<std::size_t>(cols * rows)) {}
    std::int32_t colCount() const override { return m_cols; }
    std::int32_t rowCount() const override { return static_cast<std::int32_t>(m_cells.size()) / m_cols; }
    std::string text(std::int32_t col, std::int32_t row) const override { return m_cells[at(col, row)]; }
    void setText(std::int32_t col, std::int32_t row, const std::string& text) override { m_cells[at(col, row)] = text; }

private:
    std::size_t at(std::int32_t col, std::int32_t row) const { return static_cast<std::size_t>(row * m_cols + col); }
    std::int32_t m_cols;
    std::vector<std::string> m_cells;
};

} // namespace

int main(int argc, char** argv)
{
    const std::int32_t rows = argc > 1 ? std::atoi(argv[1]) : 5000;
    VectorGrid grid(8, rows + 1);
    EditHistory history;

    const std::string text = benchblock::clipboardBlock(rows, 7);
    auto start = Clock::now();
    history.push(pasteText(grid, {1, 1}, {1, 1, 1, 1}, text, rows));
    std::printf("paste %d x 7 block (%zu bytes): %.4f s\n", rows, text.size(), secondsSince(start));

    start = Clock::now();
    history.push(serialNumbers(grid, {6, 1, 6, rows}));
    std::printf("serial numbers over %d rows: %.4f s\n", rows, secondsSince(start));

    start = Clock::now();
    std::printf("copy %d x 8 block: %zu bytes", rows, copyBlock(grid, {0, 1, 7, rows}).size());
    std::printf(", %.4f s\n", secondsSince(start));

    start = Clock::now();
    history.undo(grid);
    history.undo(grid);
    std::printf("undo of both: %.4f s\n", secondsSince(start));

    std::mt19937 random(5);
    std::string binary(10u << 20, '\0');
    for (char& byte : binary)
        byte = static_cast<char>(random());
    start = Clock::now();
    pasteText(grid, {0, 1}, {0, 1, 0, 1}, binary, rows);
    std::printf("paste of 10 MB of random bytes: %.4f s\n", secondsSince(start));
    return 0;
}
