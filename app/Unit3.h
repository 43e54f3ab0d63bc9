// The about box: the program's name and version, an icon, and two link
// labels that open the web page and a mail to the makers.
#pragma once

#include <QDialog>

class QGroupBox;
class QLabel;
class QPushButton;

class Tversion : public QDialog {
    Q_OBJECT
public:
    explicit Tversion(QWidget* parent = nullptr);

    // The project's own placeholder addresses.
    static const QString WebAddress;
    static const QString MailAddress;

    QGroupBox* GroupBox1 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr; // "MP3 TAG EDITOR"
    QLabel* Label2 = nullptr; // "「Morvik」"
    QLabel* Label3 = nullptr; // "Ver 2.03"
    QLabel* Label4 = nullptr; // the web address
    QLabel* Label5 = nullptr; // the mail address
    QPushButton* Button1 = nullptr;

public slots:
    void Button1Click();
    void Label4Click();
    void Label5Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
