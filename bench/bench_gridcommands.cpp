// The cell commands through the editor window (Qt's offscreen platform): a
// paste of a 5,000-row × 7-column block from the clipboard, a serial-number
// run over 5,000 rows, their undo, and a paste of 10 MB of clipboard text,
// each run by the window's handler as a menu item runs it, repaint
// included. Prints figures; asserts nothing. Usage: bench_gridcommands [ROWS]
#include "clipboardblock.h"
#include "windowbench.h"

#include <QApplication>
#include <QClipboard>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

} // namespace

int main(int argc, char** argv)
{
    windowbench::useOffscreenUnlessNamed();
    QApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 5000;

    windowbench::WindowWithRows window(rows);
    TForm1& form = window.form;
    form.sg->SetCurrentCell(1, 1);
    QApplication::processEvents();

    QApplication::clipboard()->setText(QString::fromStdString(benchblock::clipboardBlock(rows, 7)));
    double seconds = windowbench::timedWithRepaint([&] { form.Paste1Click(); });
    std::printf("window: paste %d x 7 block: %.4f s\n", rows, seconds);

    form.sg->SetCurrentCell(6, 1);
    form.sg->SetCurrentCell(6, rows); // Shift is not held: moves the anchor too
    form.AnchorRow = 1;
    seconds = windowbench::timedWithRepaint([&] { form.N9Click(); });
    std::printf("window: serial numbers over %d rows: %.4f s\n", rows, seconds);

    seconds = windowbench::timedWithRepaint([&] {
        form.Undo1Click();
        form.Undo1Click();
    });
    std::printf("window: undo of both: %.4f s\n", seconds);

    std::string big;
    while (big.size() < (std::size_t{10} << 20))
        big += "line of clipboard text, " + std::to_string(big.size()) + "\r\n";
    QApplication::clipboard()->setText(QString::fromStdString(big));
    form.sg->SetCurrentCell(0, 1);
    seconds = windowbench::timedWithRepaint([&] { form.Paste1Click(); });
    std::printf("window: paste of %zu bytes: %.4f s\n", big.size(), seconds);

    std::string line(10 << 20, 'x');
    QApplication::clipboard()->setText(QString::fromStdString(line));
    form.sg->SetCurrentCell(2, 1);
    seconds = windowbench::timedWithRepaint([&] { form.Paste1Click(); });
    std::printf("window: paste of one %zu-byte value into one cell: %.4f s\n", line.size(), seconds);
    seconds = windowbench::timedWithRepaint([&] { form.sg->viewport()->repaint(); });
    std::printf("window: repaint of the grid holding it: %.4f s\n", seconds);
    seconds = windowbench::timedWithRepaint([&] { form.sg->editItem(form.sg->item(0, 2)); });
    std::printf("window: opening the cell editor on it: %.4f s\n", seconds);
    form.sg->SetCurrentCell(7, 1);
    seconds = windowbench::timedWithRepaint([&] { form.Paste1Click(); });
    std::printf("window: the same into the genre cell, the list showing it: %.4f s\n", seconds);

    form.sg->SetCurrentCell(1, 1);
    form.AnchorCol = 7;
    form.AnchorRow = rows;
    seconds = windowbench::timedWithRepaint([&] { form.Paste1Click(); });
    std::printf("window: paste of one %zu-byte value into 8 x %d cells: %.4f s\n", line.size(), rows, seconds);
    return 0;
}
