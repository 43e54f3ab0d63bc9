// The editor: the main window and its three dialogs, created once in this
// order and kept until the main window closes.
#include "app/Unit1.h"
#include "app/Unit3.h"
#include "app/Unit4.h"
#include "app/Unit5.h"
#include "platform/signals.h"

#include <QApplication>

int main(int argc, char** argv)
{
    morvik::ignoreFileSizeSignal();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Morvik"));
    TForm1 Form1;
    Tversion version(&Form1);
    TForm4 Form4(&Form1);
    TForm5 Form5(&Form1);
    Form1.version = &version;
    Form1.Form4 = &Form4;
    Form1.Form5 = &Form5;
    Form1.show();
    return QApplication::exec();
}
