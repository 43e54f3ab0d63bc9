#include "app/Unit5.h"

#include "app/dialogframe.h"

#include <QCheckBox>
#include <QPushButton>

TForm5::TForm5(QWidget* parent) : QDialog(parent)
{
    morvik::setUpFixedDialog(*this, QStringLiteral("オプション"), QSize(338, 118));

    cb2 = new QCheckBox(QStringLiteral("常にセルの幅を自動調整"), this);
    cb2->setGeometry(16, 10, 310, 20);
    cb1 = new QCheckBox(QStringLiteral("ファイルのタイムスタンプを変更せずに編集"), this);
    cb1->setGeometry(16, 34, 310, 20);
    cb3 = new QCheckBox(QStringLiteral("編集破棄時メッセージで確認する"), this);
    cb3->setGeometry(16, 58, 310, 20);
    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setGeometry(128, 84, 81, 27);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &TForm5::Button1Click);

    morvik::centreOnScreen(*this);
}

void TForm5::Button1Click() { accept(); }
