// The special-edit dialog: it chooses the mode and the pattern; the main
// window runs the edit (app/specialedit) over its grid when the dialog is
// accepted. Created once at start and reused: the controls keep their state
// between showings except what Prepare sets.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class TForm4 : public QDialog {
    Q_OBJECT
public:
    explicit TForm4(QWidget* parent = nullptr);

    QRadioButton* RB1 = nullptr; // mode 1: title from file name
    QRadioButton* RB2 = nullptr; // mode 2: file name from title
    QRadioButton* RB3 = nullptr; // mode 3: file name from pattern
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QPushButton* Button1 = nullptr; // OK, the default button (Enter)
    QPushButton* Button2 = nullptr; // Cancel (also Esc)

    // The opening: mode 1, 2 or 3 checks its radio button, any other value
    // leaves them as they are; the pattern goes into Edit1.
    void Prepare(int mode, const QString& pattern);
    // 3 when RB3 is checked, else 2 for RB2, else 1 for RB1, else 0.
    int CheckedMode() const;

public slots:
    void Button1Click();
    void Button2Click();
};
