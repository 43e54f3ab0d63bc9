// The special-edit, options and about dialogs on Qt's offscreen platform.
#include "app/Unit1.h"
#include "app/Unit3.h"
#include "app/Unit4.h"
#include "app/Unit5.h"

#include "qttestapp.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

#include <functional>

namespace {

// Runs `act` on the dialog once its modal loop runs, and returns exec()'s
// result. A dialog that `act` left open is rejected after a while, so a key
// that fails to close it fails the test instead of hanging it.
int execWith(QDialog& dialog, std::function<void()> act)
{
    QTimer::singleShot(0, &dialog, [&dialog, act = std::move(act)] {
        if (dialog.isVisible())
            act();
    });
    QTimer fallback;
    fallback.setSingleShot(true);
    QObject::connect(&fallback, &QTimer::timeout, &dialog, &QDialog::reject);
    fallback.start(3000);
    return dialog.exec();
}

// Collects the addresses handed to the desktop's "open".
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher()
    {
        for (const char* scheme : {"https", "mailto", "file"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
    }
    ~UrlCatcher() override
    {
        for (const char* scheme : {"https", "mailto", "file"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
    QStringList opened;

public slots:
    void open(const QUrl& url) { opened << url.toString(); }
};

class Dialogs : public ::testing::Test {
protected:
    Dialogs() { testApplication(); }
};

TEST_F(Dialogs, SpecialEditTextsAndSize)
{
    TForm4 form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("特殊編集"));
    EXPECT_EQ(form.size(), QSize(397, 256));
    EXPECT_EQ(form.RB1->text(), QStringLiteral("ファイル名から曲名を作成"));
    EXPECT_EQ(form.RB2->text(), QStringLiteral("曲名からファイル名を作成"));
    EXPECT_EQ(form.RB3->text(), QStringLiteral("ファイル名を指定した形式に変換"));
    EXPECT_EQ(form.Label1->text(), QStringLiteral("連番=%N\u3000曲名=%T  アーティスト=%A\u3000アルバム=%M"));
    EXPECT_EQ(form.Label2->text(), QStringLiteral("例） [%M][%A]%Tと指定した場合"));
    EXPECT_EQ(form.Label3->text(), QStringLiteral("[アルバム][アーティスト]曲名.mp3がファイル名になります"));
    EXPECT_EQ(form.Label4->text(), QStringLiteral("注意）選択されている曲が編集対象となります。"));
    EXPECT_EQ(form.Edit1->text(), QStringLiteral("%N.[%M][%A]%T"));
    EXPECT_EQ(form.Button1->text(), QStringLiteral("OK"));
    EXPECT_EQ(form.Button2->text(), QStringLiteral("キャンセル"));
    EXPECT_EQ(form.CheckedMode(), 3);
}

TEST_F(Dialogs, SpecialEditOpeningChecksTheSavedMode)
{
    TForm4 form;
    const std::pair<int, int> cases[] = {{1, 1}, {2, 2}, {7, 2}, {0, 2}, {3, 3}, {-1, 3}};
    for (const auto& [saved, checked] : cases) {
        form.Prepare(saved, QStringLiteral("p%1").arg(saved));
        EXPECT_EQ(form.CheckedMode(), checked) << saved;
        EXPECT_EQ(form.Edit1->text(), QStringLiteral("p%1").arg(saved));
    }
}

TEST_F(Dialogs, SpecialEditEnterIsOkAndEscIsCancel)
{
    TForm4 form;
    form.Prepare(1, QStringLiteral("%T"));
    // Enter in the pattern box confirms with what was typed.
    EXPECT_EQ(execWith(form, [&] {
                  form.Edit1->setFocus();
                  QTest::keyClicks(form.Edit1, QStringLiteral("-%N"));
                  QTest::keyClick(form.Edit1, Qt::Key_Return);
              }),
              QDialog::Accepted);
    EXPECT_EQ(form.Edit1->text(), QStringLiteral("%T-%N"));
    EXPECT_EQ(form.CheckedMode(), 1);

    EXPECT_EQ(execWith(form, [&] { QTest::keyClick(form.RB2, Qt::Key_Escape); }), QDialog::Rejected);
    EXPECT_EQ(execWith(form, [&] { form.Button2->click(); }), QDialog::Rejected);
    EXPECT_EQ(execWith(form, [&] { form.Button1->click(); }), QDialog::Accepted);
}

TEST_F(Dialogs, OptionsTextsAndTitleBarCloseChangesNothing)
{
    TForm5 form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("オプション"));
    EXPECT_EQ(form.size(), QSize(338, 118));
    EXPECT_EQ(form.cb2->text(), QStringLiteral("常にセルの幅を自動調整"));
    EXPECT_EQ(form.cb1->text(), QStringLiteral("ファイルのタイムスタンプを変更せずに編集"));
    EXPECT_EQ(form.cb3->text(), QStringLiteral("編集破棄時メッセージで確認する"));
    // Top to bottom: cb2, cb1, cb3, then OK.
    EXPECT_LT(form.cb2->y(), form.cb1->y());
    EXPECT_LT(form.cb1->y(), form.cb3->y());
    EXPECT_LT(form.cb3->y(), form.Button1->y());

    EXPECT_EQ(execWith(form, [&] { form.close(); }), QDialog::Rejected);
    EXPECT_EQ(execWith(form, [&] { QTest::keyClick(form.cb1, Qt::Key_Return); }), QDialog::Accepted);
    EXPECT_EQ(execWith(form, [&] { form.Button1->click(); }), QDialog::Accepted);
}

TEST_F(Dialogs, AboutBoxLabelsAndLinks)
{
    Tversion form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("バージョン情報"));
    EXPECT_EQ(form.size(), QSize(305, 155));
    EXPECT_EQ(form.Label1->text(), QStringLiteral("MP3 TAG EDITOR"));
    EXPECT_EQ(form.Label2->text(), QStringLiteral("「Morvik」"));
    EXPECT_EQ(form.Label3->text(), QStringLiteral("Ver 2.03"));
    EXPECT_EQ(form.Label3->font().pixelSize(), 13);
    EXPECT_EQ(form.Image1->pixmap().size(), QSize(32, 32));
    for (QLabel* link : {form.Label4, form.Label5}) {
        EXPECT_TRUE(link->font().underline());
        EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 128));
        EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
        EXPECT_FALSE(link->toolTip().isEmpty());
    }

    UrlCatcher catcher;
    EXPECT_EQ(execWith(form, [&] {
                  QTest::mouseClick(form.Label4, Qt::LeftButton);
                  QTest::mouseClick(form.Label5, Qt::LeftButton);
                  form.Button1->click();
              }),
              QDialog::Accepted);
    EXPECT_EQ(catcher.opened, (QStringList{Tversion::WebAddress, QStringLiteral("mailto:") + Tversion::MailAddress}));
}

// The dialogs through the main window's menu commands.
TEST_F(Dialogs, AboutBoxFromTheMenuIsModalAndOkCloses)
{
    testsupport::TempDir app;
    TForm1 form(QString::fromStdString(app.path()));
    bool shown = false;
    QTimer::singleShot(0, &form, [&] {
        auto* box = qobject_cast<Tversion*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        shown = true;
        box->Button1->click();
    });
    form.About1->trigger();
    EXPECT_TRUE(shown);
    ASSERT_NE(form.version, nullptr);
    EXPECT_FALSE(form.version->isVisible());
}

// The readme beside the executable is handed whole to the desktop, however
// deep its folder; without it the error box says so.
TEST_F(Dialogs, ReadmeOpensBesideTheExecutableOrSaysWhyNot)
{
    testsupport::TempDir root;
    std::string deep = root.path();
    for (int i = 0; i < 8; ++i)
        deep += "/a folder with a long name " + std::to_string(i);
    ASSERT_EQ(testsupport::run("mkdir -p " + testsupport::shellQuote(deep)).status, 0);
    const QString folder = QString::fromStdString(deep);
    TForm1 form(folder);

    UrlCatcher catcher;
    QString error;
    QTimer::singleShot(0, &form, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            error = box->text();
            box->accept();
        }
    });
    form.ReadmeR1->trigger();
    EXPECT_TRUE(catcher.opened.isEmpty());
    EXPECT_TRUE(error.contains(folder + QStringLiteral("/readme.txt"))) << error.toStdString();

    testsupport::writeFile(deep + "/readme.txt", "読んでください");
    form.ReadmeR1->trigger();
    ASSERT_EQ(catcher.opened.size(), 1);
    EXPECT_EQ(QUrl(catcher.opened[0]).toLocalFile(), folder + QStringLiteral("/readme.txt"));
    EXPECT_GT(catcher.opened[0].size(), 200);
}

} // namespace

#include "test_dialogs.moc"
