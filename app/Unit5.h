// The options dialog: three check boxes and OK. The main window fills the
// boxes, shows the dialog and stores the options when it is accepted;
// closing it by the title bar (or Esc) changes nothing.
#pragma once

#include <QDialog>

class QCheckBox;
class QPushButton;

class TForm5 : public QDialog {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr);

    QCheckBox* cb2 = nullptr; // "sellauto": always fit the cell widths
    QCheckBox* cb1 = nullptr; // "datechg": keep the files' timestamps
    QCheckBox* cb3 = nullptr; // "movemsg": confirm before discarding edits
    QPushButton* Button1 = nullptr;

public slots:
    void Button1Click();
};
