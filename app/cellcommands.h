// The grid's editing commands as plain functions over cell texts: the
// command rectangle, the clipboard block format and its paste scan, delete,
// serial numbers, and the undo history of grid edits. No widget is involved:
// the window adapts its grid to `CellTexts` and moves the clipboard text.
//
// Texts are UTF-8. Cells use grid numbering: row 0 is the title row, data
// rows start at 1; columns start at 0.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace morvik::cells {

// The texts of the grid as the commands see them.
class CellTexts {
public:
    virtual ~CellTexts() = default;
    virtual std::int32_t colCount() const = 0;
    // Title row included.
    virtual std::int32_t rowCount() const = 0;
    virtual std::string text(std::int32_t col, std::int32_t row) const = 0;
    virtual void setText(std::int32_t col, std::int32_t row, const std::string& text) = 0;
};

struct CellPos {
    std::int32_t col = 0;
    std::int32_t row = 0;
    bool operator==(const CellPos&) const = default;
};

// Inclusive on every side.
struct CellRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
    bool operator==(const CellRect&) const = default;
};

// Before the current cell first moves the anchor is the first data cell, so
// no command reaches the title row.
inline constexpr CellPos kInitialAnchor{0, 1};

// One cell written by a command: its text before and after.
struct CellChange {
    std::int32_t row = 0;
    std::int32_t col = 0;
    std::string before;
    std::string after;
    bool operator==(const CellChange&) const = default;
};

// Every cell one command changed, in the order written. Cells a command
// wrote with their own text again are not listed.
using EditStep = std::vector<CellChange>;

CellRect commandRect(CellPos anchor, CellPos current);

// The rectangle's texts, cells joined by ",", rows by CR LF, no trailing
// line break.
std::string copyBlock(const CellTexts& cells, CellRect rect);

// Paste of the clipboard text `clip` with `current` the current cell and
// `rect` the command rectangle. A text holding CR LF or "," is a block
// placed from the current cell; any other text fills the rectangle. Cells
// outside the grid's columns or below `lastRow` are dropped, and nothing
// above row 1 is written.
EditStep pasteText(CellTexts& cells, CellPos current, CellRect rect, std::string_view clip,
                   std::int32_t lastRow);

// Empties every cell of the rectangle.
EditStep deleteRect(CellTexts& cells, CellRect rect);

// Writes one text into one cell (a typed cell, the cut).
EditStep writeCell(CellTexts& cells, CellPos at, const std::string& text);

// Numbers 1, 2, 3 … down each column of the rectangle, with leading zeros
// by the height of the rectangle (see serialText).
EditStep serialNumbers(CellTexts& cells, CellRect rect);

// The text of number `n` in a run whose bottom row minus top row is `span`:
// from a span of 100 on, numbers below 10 take "00" and below 100 "0"; from
// a span of 10 on, numbers below 10 take "0".
std::string serialText(std::int32_t n, std::int32_t span);

// Undo and redo of grid edits, one step per command or typed cell.
class EditHistory {
public:
    // An empty step is not recorded. Recording drops every undone step.
    void push(EditStep step);
    // Puts back the texts of the last step still done; false when none.
    bool undo(CellTexts& cells);
    bool redo(CellTexts& cells);
    bool canUndo() const { return m_done > 0; }
    bool canRedo() const { return m_done < m_steps.size(); }
    // No step is left done: the grid holds what it held before the first.
    bool allUndone() const { return m_done == 0; }
    void clear();

private:
    std::vector<EditStep> m_steps;
    std::size_t m_done = 0;
};

} // namespace morvik::cells
