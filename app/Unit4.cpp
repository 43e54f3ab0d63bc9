#include "app/Unit4.h"

#include "app/dialogframe.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <limits>

TForm4::TForm4(QWidget* parent) : QDialog(parent)
{
    morvik::setUpFixedDialog(*this, QStringLiteral("特殊編集"), QSize(397, 256));

    RB1 = new QRadioButton(QStringLiteral("ファイル名から曲名を作成"), this);
    RB1->setGeometry(16, 12, 360, 20);
    RB2 = new QRadioButton(QStringLiteral("曲名からファイル名を作成"), this);
    RB2->setGeometry(16, 36, 360, 20);
    RB3 = new QRadioButton(QStringLiteral("ファイル名を指定した形式に変換"), this);
    RB3->setGeometry(16, 60, 360, 20);
    RB3->setChecked(true);

    // Ideographic spaces before "曲名" and "アルバム", two plain spaces
    // before "アーティスト".
    Label1 = new QLabel(QStringLiteral("連番=%N\u3000曲名=%T  アーティスト=%A\u3000アルバム=%M"), this);
    Label1->setGeometry(36, 86, 350, 18);
    Label2 = new QLabel(QStringLiteral("例） [%M][%A]%Tと指定した場合"), this);
    Label2->setGeometry(36, 106, 350, 18);
    Label3 = new QLabel(QStringLiteral("[アルバム][アーティスト]曲名.mp3がファイル名になります"), this);
    Label3->setGeometry(36, 126, 350, 18);
    Edit1 = new QLineEdit(QStringLiteral("%N.[%M][%A]%T"), this);
    Edit1->setMaxLength(std::numeric_limits<int>::max());
    Edit1->setGeometry(36, 150, 340, 22);
    Label4 = new QLabel(QStringLiteral("注意）選択されている曲が編集対象となります。"), this);
    Label4->setGeometry(16, 182, 370, 18);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setGeometry(208, 216, 81, 27);
    Button1->setDefault(true);
    Button2 = new QPushButton(QStringLiteral("キャンセル"), this);
    Button2->setGeometry(300, 216, 81, 27);
    Button2->setAutoDefault(false);
    connect(Button1, &QPushButton::clicked, this, &TForm4::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm4::Button2Click);

    morvik::centreOnScreen(*this);
}

void TForm4::Prepare(int mode, const QString& pattern)
{
    if (mode == 1)
        RB1->setChecked(true);
    else if (mode == 2)
        RB2->setChecked(true);
    else if (mode == 3)
        RB3->setChecked(true);
    Edit1->setText(pattern);
}

int TForm4::CheckedMode() const
{
    if (RB3->isChecked())
        return 3;
    if (RB2->isChecked())
        return 2;
    if (RB1->isChecked())
        return 1;
    return 0;
}

void TForm4::Button1Click() { accept(); }

void TForm4::Button2Click() { reject(); }
