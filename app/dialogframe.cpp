#include "app/dialogframe.h"

#include <QDialog>
#include <QGuiApplication>
#include <QScreen>

namespace morvik {

void setUpFixedDialog(QDialog& dialog, const QString& caption, QSize client)
{
    dialog.setModal(true);
    dialog.setWindowTitle(caption);
    dialog.setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint);
    dialog.setFixedSize(client);
}

void centreOnScreen(QWidget& window)
{
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        window.move(screen->availableGeometry().center() - window.rect().center());
}

} // namespace morvik
