// Sorting and column fitting over 5,000 rows: the exchange order on keys
// alone, then on the editor window's grid and records (Qt's offscreen
// platform), repaint included. Prints figures; asserts nothing.
// Usage: bench_gridsort [ROWS]
#include "app/gridsort.h"
#include "windowbench.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

// Titles of a real collection: Japanese and ASCII, many repeated.
std::string title(std::mt19937& random)
{
    static const char* const words[] = {"夜", "桜", "Love", "song", "海", "風の", "Blue", "歌", "Ⅱ", "remix"};
    std::string text;
    for (unsigned k = 0, n = 1 + random() % 4; k < n; ++k)
        text += words[random() % 10];
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    windowbench::useOffscreenUnlessNamed();
    QApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 5000;
    std::mt19937 random(5);

    std::vector<std::string> titles;
    for (int i = 0; i < rows; ++i)
        titles.push_back(title(random));
    double seconds = windowbench::timedWithRepaint([&] {
        std::vector<std::string> keys;
        for (const std::string& text : titles)
            keys.push_back(morvik::sorting::cp932SortKey(text));
        morvik::sorting::exchangeSort(keys, true);
        morvik::sorting::exchangeSort(keys, false);
    });
    std::printf("logic: keys and exchange order of %d titles, both directions: %.4f s\n", rows, seconds);

    windowbench::WindowWithRows window(rows);
    TForm1& form = window.form;
    for (int row = 1; row <= rows; ++row) {
        const std::string name = std::to_string(row) + ".mp3";
        form.Files.Items[static_cast<std::size_t>(row - 1)].Path = window.folder.path().toStdString() + "/" + name;
        form.sg->SetCells(0, row, QString::fromStdString(name));
        form.sg->SetCells(1, row, QString::fromStdString(titles[static_cast<std::size_t>(row - 1)]));
        for (int col = 2; col < 8; ++col)
            form.sg->SetCells(col, row, QString::fromStdString(title(random)));
    }
    QApplication::processEvents();

    // The menu's handlers, as the user runs them.
    form.sg->SetCurrentCell(1, 1);
    seconds = windowbench::timedWithRepaint([&] {
        form.S2Click();
        form.S2Click();
    });
    std::printf("window: sort of %d rows by title, descending then ascending: %.4f s\n", rows, seconds);

    seconds = windowbench::timedWithRepaint([&] { form.N6Click(); });
    std::printf("window: fitting columns 0-6 over %d rows: %.4f s\n", rows, seconds);
    return 0;
}
