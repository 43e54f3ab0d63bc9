#include "app/cellcommands.h"

#include <algorithm>
#include <utility>

namespace morvik::cells {

namespace {

// Writes through to the cells and lists what changed.
class StepWriter {
public:
    explicit StepWriter(CellTexts& cells) : m_cells(cells) {}

    void write(std::int32_t col, std::int32_t row, const std::string& text)
    {
        std::string before = m_cells.text(col, row);
        if (before == text)
            return;
        m_cells.setText(col, row, text);
        m_step.push_back(CellChange{row, col, std::move(before), text});
    }

    EditStep take() { return std::move(m_step); }

private:
    CellTexts& m_cells;
    EditStep m_step;
};

// The part of a rectangle that lies on data cells of the grid, rows at most
// `lastRow`; empty (left > right or top > bottom) when none.
CellRect clipToData(CellRect rect, std::int32_t colCount, std::int32_t lastRow)
{
    rect.left = std::max(rect.left, 0);
    rect.right = std::min(rect.right, colCount - 1);
    rect.top = std::max(rect.top, 1);
    rect.bottom = std::min(rect.bottom, lastRow);
    return rect;
}

template <class F> void forEachCell(CellRect rect, F&& body)
{
    for (std::int32_t col = rect.left; col <= rect.right; ++col)
        for (std::int32_t row = rect.top; row <= rect.bottom; ++row)
            body(col, row);
}

bool isBlock(std::string_view clip)
{
    return clip.find(',') != std::string_view::npos || clip.find("\r\n") != std::string_view::npos;
}

// The block scan: "," ends a field and moves right, CR LF ends a field and
// goes back to the start column one row down, a lone LF is dropped and a
// lone CR is kept as text. Rows only grow, so the scan stops at the first
// row below the last one a cell may be written to.
void pasteBlock(StepWriter& out, CellPos start, std::string_view clip, std::int32_t colCount,
                std::int32_t lastRow)
{
    std::int32_t x = start.col;
    std::int32_t r = start.row;
    std::string field;
    auto inside = [&] { return x >= 0 && x < colCount && r >= 1 && r <= lastRow; };
    auto flush = [&] {
        if (inside())
            out.write(x, r, field);
        field.clear();
    };
    std::size_t at = 0;
    while (at < clip.size() && r <= lastRow) {
        const std::size_t special = std::min(clip.find_first_of(",\r\n", at), clip.size());
        if (inside())
            field.append(clip.substr(at, special - at));
        if (special == clip.size())
            break;
        const char c = clip[special];
        at = special + 1;
        if (c == ',') {
            flush();
            ++x;
        } else if (c == '\r' && at < clip.size() && clip[at] == '\n') {
            flush();
            ++r;
            x = start.col;
            ++at;
        } else if (c == '\r' && inside()) {
            field.push_back('\r');
        }
    }
    flush();
}

} // namespace

CellRect commandRect(CellPos anchor, CellPos current)
{
    return CellRect{std::min(anchor.col, current.col), std::min(anchor.row, current.row),
                    std::max(anchor.col, current.col), std::max(anchor.row, current.row)};
}

std::string copyBlock(const CellTexts& cells, CellRect rect)
{
    std::string block;
    for (std::int32_t row = rect.top; row <= rect.bottom; ++row) {
        if (row != rect.top)
            block += "\r\n";
        for (std::int32_t col = rect.left; col <= rect.right; ++col) {
            if (col != rect.left)
                block += ',';
            block += cells.text(col, row);
        }
    }
    return block;
}

EditStep pasteText(CellTexts& cells, CellPos current, CellRect rect, std::string_view clip,
                   std::int32_t lastRow)
{
    StepWriter out(cells);
    lastRow = std::min(lastRow, cells.rowCount() - 1);
    if (isBlock(clip)) {
        pasteBlock(out, current, clip, cells.colCount(), lastRow);
    } else {
        const std::string text(clip);
        forEachCell(clipToData(rect, cells.colCount(), lastRow),
                    [&](std::int32_t col, std::int32_t row) { out.write(col, row, text); });
    }
    return out.take();
}

EditStep deleteRect(CellTexts& cells, CellRect rect)
{
    StepWriter out(cells);
    const std::string empty;
    forEachCell(clipToData(rect, cells.colCount(), cells.rowCount() - 1),
                [&](std::int32_t col, std::int32_t row) { out.write(col, row, empty); });
    return out.take();
}

EditStep writeCell(CellTexts& cells, CellPos at, const std::string& text)
{
    StepWriter out(cells);
    if (at.col >= 0 && at.col < cells.colCount() && at.row >= 1 && at.row < cells.rowCount())
        out.write(at.col, at.row, text);
    return out.take();
}

std::string serialText(std::int32_t n, std::int32_t span)
{
    std::string text = std::to_string(n);
    if (span >= 100 && n < 10)
        return "00" + text;
    if (span >= 100 && n < 100)
        return "0" + text;
    if (span > 9 && n < 10)
        return "0" + text;
    return text;
}

EditStep serialNumbers(CellTexts& cells, CellRect rect)
{
    StepWriter out(cells);
    const std::int32_t span = rect.bottom - rect.top;
    forEachCell(clipToData(rect, cells.colCount(), cells.rowCount() - 1),
                [&](std::int32_t col, std::int32_t row) { out.write(col, row, serialText(row - rect.top + 1, span)); });
    return out.take();
}

void EditHistory::push(EditStep step)
{
    if (step.empty())
        return;
    m_steps.resize(m_done);
    m_steps.push_back(std::move(step));
    m_done = m_steps.size();
}

bool EditHistory::undo(CellTexts& cells)
{
    if (!canUndo())
        return false;
    const EditStep& step = m_steps[--m_done];
    for (auto change = step.rbegin(); change != step.rend(); ++change)
        cells.setText(change->col, change->row, change->before);
    return true;
}

bool EditHistory::redo(CellTexts& cells)
{
    if (!canRedo())
        return false;
    for (const CellChange& change : m_steps[m_done++])
        cells.setText(change.col, change.row, change.after);
    return true;
}

void EditHistory::clear()
{
    m_steps.clear();
    m_done = 0;
}

} // namespace morvik::cells
