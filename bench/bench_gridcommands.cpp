// The same commands through a real grid (Qt's offscreen platform): a paste
// of a 5,000-row × 7-column block and a serial-number run over 5,000 rows
// into a shown TCtrlGrid, as the window's handlers will drive them. Prints
// figures; asserts nothing. Usage: bench_gridcommands [ROWS]
#include "app/cellcommands.h"
#include "ctrlgrid/CtrlGrid.h"

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using namespace morvik::cells;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The grid as the commands see it.
class GridCells : public CellTexts {
public:
    explicit GridCells(TCtrlGrid& grid) : m_grid(grid) {}
    std::int32_t colCount() const override { return m_grid.ColCount(); }
    std::int32_t rowCount() const override { return m_grid.RowCount(); }
    std::string text(std::int32_t col, std::int32_t row) const override { return m_grid.Cells(col, row).toStdString(); }
    void setText(std::int32_t col, std::int32_t row, const std::string& text) override
    {
        m_grid.SetCells(col, row, QString::fromStdString(text));
    }

private:
    TCtrlGrid& m_grid;
};

std::string block(std::int32_t rows, std::int32_t cols)
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

template <class F> double timed(F&& body)
{
    const auto start = Clock::now();
    body();
    QApplication::processEvents(); // the repaint the change asked for
    return secondsSince(start);
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::int32_t rows = argc > 1 ? std::atoi(argv[1]) : 5000;
    TCtrlGrid grid;
    grid.resize(800, 600);
    grid.SetRowCount(rows + 1);
    grid.show();
    QApplication::processEvents();
    GridCells cells(grid);
    EditHistory history;
    const std::string text = block(rows, 7);

    double seconds = timed([&] { history.push(pasteText(cells, {1, 1}, {1, 1, 1, 1}, text, rows)); });
    std::printf("grid: paste %d x 7 block: %.4f s\n", rows, seconds);
    seconds = timed([&] { history.push(serialNumbers(cells, {6, 1, 6, rows})); });
    std::printf("grid: serial numbers over %d rows: %.4f s\n", rows, seconds);
    seconds = timed([&] {
        history.undo(cells);
        history.undo(cells);
    });
    std::printf("grid: undo of both: %.4f s\n", seconds);
    return 0;
}
