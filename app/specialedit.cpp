#include "app/specialedit.h"

#include <algorithm>
#include <array>
#include <limits>

namespace morvik::special {
namespace {

constexpr std::int32_t kNameCol = 0;
constexpr std::int32_t kTitleCol = 1;
constexpr std::int32_t kArtistCol = 2;
constexpr std::int32_t kAlbumCol = 3;

bool isBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

void append(cells::EditStep& step, cells::EditStep more)
{
    step.insert(step.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
}

} // namespace

std::string trimBlanks(std::string_view text)
{
    const auto first = std::find_if_not(text.begin(), text.end(), isBlank);
    const auto last = std::find_if_not(text.rbegin(), std::make_reverse_iterator(first), isBlank).base();
    return std::string(first, last);
}

std::string titleFromFileName(std::string_view name)
{
    static constexpr std::array<std::string_view, 4> kEndings = {".mp3", ".MP3", ".mP3", ".Mp3"};
    for (std::string_view ending : kEndings) {
        const std::size_t at = name.find(ending);
        if (at != std::string_view::npos)
            return std::string(name.substr(0, at));
    }
    return std::string();
}

std::string fileNameFromTitle(std::string_view title) { return trimBlanks(title) + ".mp3"; }

PatternNamer::PatternNamer(std::string pattern, std::int32_t span) : m_pattern(std::move(pattern)), m_span(span) {}

std::string PatternNamer::nameFor(const PatternFields& fields)
{
    std::string out;
    const std::string_view p = m_pattern;
    for (std::size_t i = 0; i < p.size(); ++i) {
        if (p[i] != '%' || i + 1 == p.size()) {
            out += p[i];
            continue;
        }
        const char code = p[++i];
        switch (code) {
        case 'N':
            out += cells::serialText(m_next, m_span);
            // Past two thousand million numbers the last one repeats; no
            // folder holds that many files.
            if (m_next < std::numeric_limits<std::int32_t>::max())
                ++m_next;
            break;
        case 'T': out += trimBlanks(fields.title); break;
        case 'A': out += trimBlanks(fields.artist); break;
        case 'M': out += trimBlanks(fields.album); break;
        default:
            out += '%';
            out += code;
        }
    }
    return out + ".mp3";
}

RowRange editRows(std::int32_t anchorRow, std::int32_t currentRow, std::int32_t rowCount)
{
    return RowRange{std::max(std::min(anchorRow, currentRow), 1),
                    std::min(std::max(anchorRow, currentRow), rowCount - 1)};
}

cells::EditStep specialEdit(cells::CellTexts& cells, Mode mode, std::string_view pattern, RowRange rows)
{
    cells::EditStep step;
    PatternNamer namer{std::string(pattern), rows.bottom - rows.top};
    for (std::int32_t row = rows.top; row <= rows.bottom; ++row) {
        switch (mode) {
        case Mode::None:
            return step;
        case Mode::TitleFromName:
            append(step, cells::writeCell(cells, {kTitleCol, row}, titleFromFileName(cells.text(kNameCol, row))));
            break;
        case Mode::NameFromTitle:
            append(step, cells::writeCell(cells, {kNameCol, row}, fileNameFromTitle(cells.text(kTitleCol, row))));
            break;
        case Mode::NameFromPattern: {
            const PatternFields fields{cells.text(kTitleCol, row), cells.text(kArtistCol, row),
                                       cells.text(kAlbumCol, row)};
            append(step, cells::writeCell(cells, {kNameCol, row}, namer.nameFor(fields)));
            break;
        }
        }
    }
    return step;
}

} // namespace morvik::special
