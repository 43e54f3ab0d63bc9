// The special edit over row texts: titles from file names, file names from
// titles, and file names from a pattern of serial numbers and tag fields.
// The dialog only chooses the mode and the pattern; the window and
// `morvik-cli pattern` / `title-from-name` run the same functions.
//
// Texts are UTF-8. Rows use grid numbering (row 0 is the title row);
// column 0 is the file name, 1 the title, 2 the artist, 3 the album.
#pragma once

#include "app/cellcommands.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace morvik::special {

enum class Mode : std::int32_t {
    None = 0,            // no mode chosen: nothing is edited
    TitleFromName = 1,   // mode 1
    NameFromTitle = 2,   // mode 2
    NameFromPattern = 3, // mode 3
};

// What "tokusyu" and "tokusyu_str" hold when they are absent.
inline constexpr std::int32_t kDefaultMode = 3;
inline constexpr std::string_view kDefaultPattern = "%N.[%M][%A]%T";

// The text without its leading and trailing blanks and control characters
// (bytes up to 0x20).
std::string trimBlanks(std::string_view text);

// Mode 1: the part of the name before its first ".mp3", else before the
// first ".MP3", ".mP3" or ".Mp3" (tried in this order); empty when the name
// has none of them.
std::string titleFromFileName(std::string_view name);

// Mode 2: the trimmed title followed by ".mp3".
std::string fileNameFromTitle(std::string_view title);

// The tag fields a pattern can name, as shown (untrimmed).
struct PatternFields {
    std::string title;
    std::string artist;
    std::string album;
};

// Mode 3 over a run of rows. "%N" is the serial number, "%T", "%A" and "%M"
// the trimmed title, artist and album; "%" before any other character is
// copied with it, and a final "%" is copied. The counter starts at 1 and
// runs across the rows, once per "%N". `span` is the last row of the run
// minus its first: it decides the leading zeros as for serial numbers.
class PatternNamer {
public:
    PatternNamer(std::string pattern, std::int32_t span);
    // The file name for the next row: the expanded pattern and ".mp3".
    std::string nameFor(const PatternFields& fields);

private:
    std::string m_pattern;
    std::int32_t m_span;
    std::int32_t m_next = 1;
};

struct RowRange {
    std::int32_t top = 1;
    std::int32_t bottom = 0; // empty when below top
};

// The rows an edit covers: from the anchor's row to the current row, never
// the title row, never beyond the grid's last row (`rowCount` counts the
// title row).
RowRange editRows(std::int32_t anchorRow, std::int32_t currentRow, std::int32_t rowCount);

// Runs `mode` over `rows` of the grid and returns every cell it changed, as
// one step of the edit history.
cells::EditStep specialEdit(cells::CellTexts& cells, Mode mode, std::string_view pattern, RowRange rows);

} // namespace morvik::special
