// Sorting the editor's loaded rows and fitting its column widths: the keys
// and measured widths taken from the grid, the order and widths computed by
// app/gridsort, and the result written back once.
#pragma once

#include "app/filerecords.h"

#include <QString>
#include <optional>

class QFontMetrics;
class TCtrlGrid;

namespace morvik {

// Grid_Sort's work once its direction is chosen: orders rows 1 to
// `files.Count` by column `col` and moves each row's eight texts and its
// record together. Returns the text of the first track cell found not to be
// an integer; the exchanges made before it then stand.
std::optional<QString> sortLoadedRows(TCtrlGrid& grid, TFileListL& files, int col, bool descending);

// N6Click's work for one column: its data rows 1 to `rows` measured in
// `metrics`; the width changes only when some text is there to fit.
void fitColumn(TCtrlGrid& grid, const QFontMetrics& metrics, int col, int rows);

// Every fitted column (0 to 6).
void fitColumns(TCtrlGrid& grid, const QFontMetrics& metrics, int rows);

} // namespace morvik
