// The frame the editor's dialogs share: modal, a fixed dialog border with a
// title and a close box, a fixed client size.
#pragma once

#include <QSize>
#include <QString>

class QDialog;
class QWidget;

namespace morvik {

void setUpFixedDialog(QDialog& dialog, const QString& caption, QSize client);

// Places a window in the middle of the screen rather than over its parent.
void centreOnScreen(QWidget& window);

} // namespace morvik
