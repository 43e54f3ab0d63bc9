#include "app/gridcells.h"

#include "app/filerecords.h"
#include "ctrlgrid/CtrlGrid.h"

#include <algorithm>

namespace morvik {

std::int32_t GridCells::colCount() const { return m_grid.ColCount(); }

std::int32_t GridCells::rowCount() const { return m_grid.RowCount(); }

std::string GridCells::text(std::int32_t col, std::int32_t row) const { return utf8Bytes(m_grid.Cells(col, row)); }

void GridCells::setText(std::int32_t col, std::int32_t row, const std::string& text)
{
    m_grid.SetCells(col, row, utf8Text(text));
}

BulkEdit::BulkEdit(TCtrlGrid& grid) : m_grid(grid), m_wasEnabled(grid.updatesEnabled())
{
    m_grid.setUpdatesEnabled(false);
}

BulkEdit::~BulkEdit()
{
    m_grid.setUpdatesEnabled(m_wasEnabled);
    if (m_wasEnabled)
        m_grid.viewport()->update();
}

namespace {

bool isBlock(const std::string& text)
{
    return text.find(',') != std::string::npos || text.find("\r\n") != std::string::npos;
}

// Cuts UTF-8 text to at most `size` bytes without splitting a character.
void cutUtf8(std::string& text, std::size_t size)
{
    if (text.size() <= size)
        return;
    while (size > 0 && (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80)
        --size;
    text.resize(size);
}

} // namespace

std::string boundedPasteText(std::string text, std::int64_t cells)
{
    if (isBlock(text) || cells <= 1)
        cutUtf8(text, kPasteBudget);
    else
        cutUtf8(text, kPasteBudget / static_cast<std::size_t>(cells));
    return text;
}

} // namespace morvik
