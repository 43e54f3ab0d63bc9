#include "app/Unit3.h"

#include "app/dialogframe.h"

#include <QDesktopServices>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QUrl>

const QString Tversion::WebAddress = QStringLiteral("https://morvik.example/");
const QString Tversion::MailAddress = QStringLiteral("morvik@morvik.example");

namespace {

// A 32 by 32 picture: a note on a rounded square.
QPixmap iconPicture()
{
    QPixmap picture(32, 32);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(64, 64, 255));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPixelSize(22);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(picture.rect(), Qt::AlignCenter, QStringLiteral("\u266A"));
    return picture;
}

QLabel* textLabel(const QString& text, QWidget* parent, const QRect& where)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPixelSize(13);
    label->setFont(font);
    label->setGeometry(where);
    return label;
}

// Underlined in navy with a hand cursor; a click is caught by the box.
QLabel* linkLabel(const QString& text, const QString& hint, QWidget* parent, const QRect& where)
{
    QLabel* label = textLabel(text, parent, where);
    QFont font = label->font();
    font.setUnderline(true);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(0, 0, 128));
    label->setPalette(palette);
    label->setCursor(Qt::PointingHandCursor);
    label->setToolTip(hint);
    return label;
}

} // namespace

Tversion::Tversion(QWidget* parent) : QDialog(parent)
{
    // Centred on the main window, Qt's place for a dialog with a parent.
    morvik::setUpFixedDialog(*this, QStringLiteral("バージョン情報"), QSize(305, 155));

    GroupBox1 = new QGroupBox(this);
    GroupBox1->setGeometry(8, 4, 289, 108);
    Image1 = new QLabel(GroupBox1);
    Image1->setPixmap(iconPicture());
    Image1->setGeometry(14, 18, 32, 32);
    Label1 = textLabel(QStringLiteral("MP3 TAG EDITOR"), GroupBox1, QRect(60, 14, 220, 18));
    Label2 = textLabel(QStringLiteral("「Morvik」"), GroupBox1, QRect(60, 34, 220, 18));
    Label3 = textLabel(QStringLiteral("Ver 2.03"), GroupBox1, QRect(60, 54, 220, 18));
    Label4 = linkLabel(WebAddress, QStringLiteral("作者のホームページ"), GroupBox1, QRect(14, 74, 260, 16));
    Label5 = linkLabel(MailAddress, QStringLiteral("作者へメール"), GroupBox1, QRect(14, 90, 260, 16));
    Label4->installEventFilter(this);
    Label5->installEventFilter(this);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setGeometry(112, 120, 81, 27);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &Tversion::Button1Click);
}

bool Tversion::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == Label4) {
            Label4Click();
            return true;
        }
        if (watched == Label5) {
            Label5Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void Tversion::Button1Click() { accept(); }

void Tversion::Label4Click() { QDesktopServices::openUrl(QUrl(WebAddress)); }

void Tversion::Label5Click() { QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:") + MailAddress)); }
