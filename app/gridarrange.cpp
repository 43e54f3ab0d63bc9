#include "app/gridarrange.h"

#include "app/gridcells.h"
#include "app/gridsort.h"
#include "app/renamerules.h"
#include "ctrlgrid/CtrlGrid.h"

#include <QFontMetrics>
#include <QHash>
#include <array>
#include <string>
#include <vector>

namespace morvik {
namespace {

constexpr int kColumns = 8;

// A name cell still showing its file's name sorts by the name's own bytes
// (a name that is not UTF-8 shows altered); any other by its UTF-8 bytes.
std::string nameKey(const QString& cell, const TFileList& record)
{
    const std::string name = names::baseName(record.Path);
    return cell == shownFileName(name) ? name : utf8Bytes(cell);
}

using RowTexts = std::array<QString, kColumns>;

// Puts row `order[p] + 1` at row p + 1, texts and records alike.
void moveRows(TCtrlGrid& grid, TFileListL& files, const std::vector<std::int32_t>& order)
{
    const auto n = order.size();
    std::vector<RowTexts> texts(n);
    for (std::size_t p = 0; p < n; ++p)
        for (int col = 0; col < kColumns; ++col)
            texts[p][static_cast<std::size_t>(col)] = grid.Cells(col, static_cast<int>(p) + 1);
    std::vector<TFileList> records(n);
    const BulkEdit bulk(grid);
    for (std::size_t p = 0; p < n; ++p) {
        const auto from = static_cast<std::size_t>(order[p]);
        if (from == p)
            continue;
        for (int col = 0; col < kColumns; ++col)
            grid.SetCells(col, static_cast<int>(p) + 1, texts[from][static_cast<std::size_t>(col)]);
        records[p] = std::move(files.Items[from]);
    }
    for (std::size_t p = 0; p < n; ++p) {
        if (static_cast<std::size_t>(order[p]) != p)
            files.Items[p] = std::move(records[p]);
    }
}

} // namespace

std::optional<QString> sortLoadedRows(TCtrlGrid& grid, TFileListL& files, int col, bool descending)
{
    const auto n = static_cast<std::size_t>(std::max(files.Count, 0));
    sorting::SortOutcome outcome;
    if (col == sorting::kTrackColumn) {
        std::vector<std::optional<std::int32_t>> numbers(n);
        for (std::size_t i = 0; i < n; ++i)
            numbers[i] = sorting::trackNumber(utf8Bytes(grid.Cells(col, static_cast<int>(i) + 1)));
        outcome = sorting::exchangeSort(numbers, descending);
    } else {
        std::vector<std::string> keys(n);
        for (std::size_t i = 0; i < n; ++i) {
            const QString cell = grid.Cells(col, static_cast<int>(i) + 1);
            keys[i] = col == 0 ? nameKey(cell, files.Items[i]) : sorting::cp932SortKey(utf8Bytes(cell));
        }
        outcome = sorting::exchangeSort(keys, descending);
    }
    std::optional<QString> badText;
    if (outcome.notInteger)
        badText = grid.Cells(col, *outcome.notInteger + 1);
    moveRows(grid, files, outcome.order);
    return badText;
}

void fitColumn(TCtrlGrid& grid, const QFontMetrics& metrics, int col, int rows)
{
    // Columns repeat their texts (one album, one artist): each is measured
    // once.
    QHash<QString, std::int32_t> measured;
    std::vector<std::int32_t> widths;
    widths.reserve(static_cast<std::size_t>(std::max(rows, 0)));
    for (int row = 1; row <= rows; ++row) {
        const QString text = grid.Cells(col, row);
        auto at = measured.find(text);
        if (at == measured.end())
            at = measured.insert(text, metrics.horizontalAdvance(text));
        widths.push_back(*at);
    }
    if (const auto width = sorting::fittedWidth(widths))
        grid.SetColWidths(col, *width);
}

void fitColumns(TCtrlGrid& grid, const QFontMetrics& metrics, int rows)
{
    for (int col = 0; col < sorting::kFittedColumns; ++col)
        fitColumn(grid, metrics, col, rows);
}

} // namespace morvik
