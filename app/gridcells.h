// The editor's grid as the cell commands see it, and the bounds a paste
// keeps to.
#pragma once

#include "app/cellcommands.h"

#include <cstdint>
#include <string>

class TCtrlGrid;

namespace morvik {

// Cell texts of a TCtrlGrid in UTF-8. While a BulkEdit is alive the grid
// does not repaint; it repaints once when the last one ends.
class GridCells : public cells::CellTexts {
public:
    explicit GridCells(TCtrlGrid& grid) : m_grid(grid) {}
    std::int32_t colCount() const override;
    std::int32_t rowCount() const override;
    std::string text(std::int32_t col, std::int32_t row) const override;
    void setText(std::int32_t col, std::int32_t row, const std::string& text) override;

private:
    TCtrlGrid& m_grid;
};

// Suspends the grid's repaints for a command that writes many cells.
class BulkEdit {
public:
    explicit BulkEdit(TCtrlGrid& grid);
    ~BulkEdit();
    BulkEdit(const BulkEdit&) = delete;
    BulkEdit& operator=(const BulkEdit&) = delete;

private:
    TCtrlGrid& m_grid;
    bool m_wasEnabled;
};

// The most text one paste writes, in UTF-8 bytes over every cell it fills.
inline constexpr std::size_t kPasteBudget = std::size_t{16} << 20;

// The clipboard text a paste uses: a block is cut at kPasteBudget; a single
// value, which goes into each of `cells` cells, at kPasteBudget / cells.
// Cuts fall on a character boundary. Keeps a clipboard of any size (or of
// any bytes) from taking the window's memory and time.
std::string boundedPasteText(std::string text, std::int64_t cells);

} // namespace morvik
