// One QApplication per test process, on Qt's offscreen platform unless the
// environment names another.
#pragma once

#include <QApplication>
#include <cstdlib>

inline QApplication& testApplication()
{
    static int argc = 1;
    static char name[] = "morvik-test";
    static char* argv[] = {name, nullptr};
    if (!std::getenv("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never destroyed: tearing Qt down among the other static objects at
    // exit crashes, and the process ends right after anyway.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}
