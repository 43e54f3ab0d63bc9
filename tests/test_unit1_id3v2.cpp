// The window in the ID3v2 view on files tagged in every encoding: the cells
// show the texts as they are, an apply keeps what was not edited byte for
// byte, and a text Shift-JIS cannot hold is stored as UTF-16.
#include "app/Unit1.h"

#include "id3/id3v2tag.h"
#include "id3/mp3id.h"
#include "id3testsupport.h"
#include "qttestapp.h"
#include "testsupport.h"

#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

using namespace testsupport;
using namespace id3testsupport;
using morvik::TMP3id;
using morvik::TTagView;
using morvik::id3::TTagField;

namespace {

morvik::id3::TTagFields fieldsOf(const std::string& path)
{
    TMP3id tag(TTagView::ID3v2, false);
    tag.Open(path, 0);
    tag.ReadTag();
    tag.Close();
    return tag.Fields();
}

const std::string kEmoji16 = s("\x3C\xD8\xB5\xDF", 4);           // 🎵 in UTF-16LE
const std::string kJapanese16 = s("\xE5\x65\x2C\x67", 4);        // 日本
const std::string kKorean16 = s("\x5C\xD5\x6D\xAD", 4);          // 한국

class Unit1Id3v2Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        testApplication();
        // An error box would stop the apply; none is expected here.
        QObject::connect(&m_watchdog, &QTimer::timeout, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                ADD_FAILURE() << "unexpected message box: " << box->text().toStdString();
                box->reject();
            }
        });
        m_watchdog.start(20);
        writeFile(appDir.file("tag.ini"), "[women]\ndefdir=" + music.path() + "\ntagv=2\n");
    }

    TForm1& start()
    {
        form = std::make_unique<TForm1>(QString::fromStdString(appDir.path()));
        form->show();
        QApplication::processEvents();
        return *form;
    }

    QTimer m_watchdog;
    TempDir appDir;
    TempDir music;
    std::unique_ptr<TForm1> form;
};

TEST_F(Unit1Id3v2Test, CellsShowEveryEncodingAndAnApplyKeepsWhatWasNotEdited)
{
    const std::string audio = toneMp3(0.1);
    const std::string utf16Title = frame23("TIT2", "\x01\xFF\xFE" + kJapanese16 + s(" \0", 2) + kKorean16 + kEmoji16 + s("\0\0", 2));
    const std::string picture = frame23("APIC", s("\0image/png\0\x03\0", 13) + "TIT2" + std::string(50'000, '\x11'));
    writeFile(music.file("a.mp3"), tag(3, picture + utf16Title + frame23("TCON", s("\0(13)", 5)) +
                                              frame23("TRCK", s("\0" "1", 2)) + frame23("PRIV", s("me\0\x01", 4)), 500) + audio);
    writeFile(music.file("b.mp3"), tag(4, frame24("TIT2", "\x03\xED\x95\x9C\xEA\xB5\xAD \xF0\x9F\x8E\xB5") +
                                              frame24("TPE1", s("\x02\x65\xE5", 3))) + audio);
    writeFile(music.file("c.mp3"), tag(3, frame23("TIT2", s("\0\x93\xfa\x96\x7b", 5)), 500) + audio);

    TForm1& f = start();
    ASSERT_EQ(f.Files.Count, 3);
    EXPECT_EQ(f.sg->Cells(1, 1), QString::fromUtf8("日本 한국🎵"));
    EXPECT_EQ(f.sg->Cells(7, 1), QStringLiteral("Pop")) << "a genre number alone shows its name";
    EXPECT_EQ(f.sg->Cells(1, 2), QString::fromUtf8("한국 🎵"));
    EXPECT_EQ(f.sg->Cells(2, 2), QString::fromUtf8("日"));
    EXPECT_EQ(f.sg->Cells(1, 3), QString::fromUtf8("日本"));

    // Only the track of a.mp3, and the title of c.mp3 with characters
    // Shift-JIS lacks.
    f.sg->SetCells(6, 1, QStringLiteral("2"));
    f.sg->SetCells(1, 3, QString::fromUtf8("日本 🎵"));
    f.Edited = true;
    f.ToolButton2Click();
    EXPECT_FALSE(f.Edited);

    const std::string a = readFile(music.file("a.mp3"));
    EXPECT_NE(a.find(utf16Title), std::string::npos) << "the title's frame is the same bytes";
    EXPECT_NE(a.find(picture), std::string::npos);
    EXPECT_NE(a.find(frame23("PRIV", s("me\0\x01", 4))), std::string::npos);
    EXPECT_EQ(fieldsOf(music.file("a.mp3"))[morvik::id3::tfTrack], (TTagField{0, "2"}));
    EXPECT_EQ(fieldsOf(music.file("a.mp3"))[morvik::id3::tfGenre], (TTagField{0, "Pop"}));
    EXPECT_EQ(fieldsOf(music.file("c.mp3"))[morvik::id3::tfTitle],
              (TTagField{1, "\xFF\xFE" + kJapanese16 + s(" \0", 2) + kEmoji16}));
    EXPECT_EQ(fieldsOf(music.file("b.mp3"))[morvik::id3::tfTitle].encoding, 3) << "b.mp3 was not written";

    // What the window holds now is what a fresh load shows.
    f.Refresh1Click();
    EXPECT_EQ(f.sg->Cells(1, 1), QString::fromUtf8("日本 한국🎵"));
    EXPECT_EQ(f.sg->Cells(6, 1), QStringLiteral("2"));
    EXPECT_EQ(f.sg->Cells(1, 3), QString::fromUtf8("日本 🎵"));
}

} // namespace
