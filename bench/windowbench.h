// What the benchmarks of the editor window share: Qt's offscreen platform
// unless another is named, the window on an empty folder of its own with
// rows that stand for loaded files, and the time of a handler together with
// the repaint it asked for.
#pragma once

#include "app/Unit1.h"

#include <QApplication>
#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>

namespace windowbench {

inline void useOffscreenUnlessNamed()
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

template <class F> double timedWithRepaint(F&& body)
{
    const auto start = std::chrono::steady_clock::now();
    body();
    QApplication::processEvents();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The window, shown, with `rows` empty grid rows counted as files.
struct WindowWithRows {
    QTemporaryDir folder;
    TForm1 form;

    explicit WindowWithRows(int rows) : form(folder.path())
    {
        form.resize(800, 600);
        form.show();
        QApplication::processEvents();
        form.sg->SetRowCount(rows + 1);
        form.Files.Items.resize(static_cast<std::size_t>(rows));
        form.Files.Count = rows;
    }
};

} // namespace windowbench
