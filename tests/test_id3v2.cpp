// The ID3v2 frame walk, the texts of every encoding and version, and the
// frames the writer keeps, converts or drops. Tags are written byte by byte.
#include "id3/id3v2tag.h"
#include "id3/mp3id.h"

#include "id3testsupport.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

using namespace testsupport;
using namespace id3testsupport;
using morvik::TMP3id;
using morvik::TTagView;
using morvik::id3::Id3v2Tag;
using morvik::id3::TTagField;
using morvik::id3::TTagFields;

namespace {

const std::string kAudio = std::string(300, '\xFB') + std::string(300, '\x90');

struct Read {
    bool hasTag;
    TTagFields fields;
};

Read readFields(const std::string& path)
{
    TMP3id tag(TTagView::ID3v2, false);
    tag.Open(path, 0);
    Read r;
    r.hasTag = tag.ReadTag();
    tag.Close();
    r.fields = tag.Fields();
    return r;
}

// Reads the tag, then writes it back with `change` applied to the fields.
std::vector<std::string> rewriteFields(const std::string& path, const std::function<void(TTagFields&)>& change)
{
    TMP3id tag(TTagView::ID3v2, false);
    tag.Open(path, 2);
    const bool hasTag = tag.ReadTag();
    TTagFields fields = tag.Fields();
    change(fields);
    tag.WriteTag(hasTag, fields, tag.TagPosition());
    tag.Close();
    return tag.DroppedFrames();
}

class StringSource final : public morvik::id3::ByteSource {
public:
    explicit StringSource(std::string bytes) : m_bytes(std::move(bytes)) {}
    std::size_t readAt(std::int64_t offset, void* out, std::size_t n) override
    {
        if (offset < 0 || static_cast<std::size_t>(offset) >= m_bytes.size())
            return 0;
        const std::size_t count = std::min(n, m_bytes.size() - static_cast<std::size_t>(offset));
        std::memcpy(out, m_bytes.data() + offset, count);
        return count;
    }
    std::int64_t size() const { return static_cast<std::int64_t>(m_bytes.size()); }

private:
    std::string m_bytes;
};

// The frames of the file's tag as (identifier, stored frame bytes).
std::vector<std::pair<std::string, std::string>> framesOf(const std::string& data)
{
    StringSource source(data);
    const auto tag = Id3v2Tag::read(source, source.size());
    std::vector<std::pair<std::string, std::string>> out;
    if (!tag)
        return out;
    for (const auto& f : tag->frames())
        out.emplace_back(f.id, tag->storedFrame(f));
    return out;
}

const std::string kPicture = [] {
    std::string data;
    for (int i = 0; i < 4000; ++i)
        data += static_cast<char>(i * 7 + 3);
    return data;
}();

TEST(Id3v2Read, EveryVersionEncodingAndLayout)
{
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    const std::string japanese = "\xE6\x97\xA5\xE6\x9C\xAC"; // 日本 in UTF-8
    const std::string japanese16 = s("\xE5\x65\x2C\x67", 4);  // 日本 in UTF-16LE
    const std::string text200(199, 'x');
    const std::string apicFake = s("\0image/png\0\x03\0", 13) + std::string("TIT2") + bytes({0, 0, 0, 5, 0, 0, 0}) + "Fake";
    const std::string bigPicture = s("\0image/png\0\x03\0", 13) + std::string("TIT2") + bytes({0, 0, 0, 5, 0, 0, 0}) +
                                   "Fake" + std::string(50'000, '\x55');
    const std::string plainSize = "TXXX" + be32(200) + bytes({0, 0}) + "\x03" + text200;
    struct Case {
        const char* name;
        std::string file;
        TTagField title;
        std::string comment = "", genre = "", year = "";
    };
    const Case cases[] = {
        {"2.3 UTF-16 with a mark and a terminator", tag(3, frame23("TIT2", "\x01\xFF\xFE" + japanese16 + s("\0\0", 2))),
         {1, "\xFF\xFE" + japanese16 + s("\0\0", 2)}},
        {"2.4 UTF-8 with a syncsafe size above 127", tag(4, frame24("TIT2", "\x03" + text200) + frame24("TPE1", "\x03" "A")),
         {3, text200}},
        {"2.4 UTF-16BE", tag(4, frame24("TIT2", "\x02" + be16("Hi"))), {2, be16("Hi")}},
        {"2.4 UTF-8 Japanese", tag(4, frame24("TIT2", "\x03" + japanese)), {3, japanese}},
        {"2.2 three-letter frames", tag(2, frame22("TT2", "\x01\xFF\xFE" + le16("Old")) + frame22("COM", s("\0eng\0Note", 9))),
         {1, "\xFF\xFE" + le16("Old")}, "Note"},
        {"2.3 whole-tag unsynchronisation",
         header(3, 0x80, 40) + unsynchronised(frame23("TIT2", "\x01\xFF\xFE" + le16("U"))) + std::string(40, '\0'),
         {1, "\xFF\xFE" + le16("U")}},
        {"2.3 extended header", tag(3, be32(6) + std::string(6, '\0') + frame23("TIT2", s("\0Ext", 4)), 20, 0x40),
         {0, "Ext"}},
        {"2.4 extended header", tag(4, syncsafe(6) + bytes({1, 0}) + frame24("TIT2", s("\0Ext", 4)), 20, 0x40),
         {0, "Ext"}},
        {"2.4 frame unsynchronisation and data-length indicator",
         tag(4, frame24("TIT2", syncsafe(7) + unsynchronised("\x01\xFF\xFE" + le16("ab")), 0x0003)),
         {1, "\xFF\xFE" + le16("ab")}},
        {"title behind a 50 KB picture holding TIT2 in its data",
         tag(3, frame23("APIC", bigPicture) + frame23("TIT2", s("\0Behind", 7))), {0, "Behind"}},
        {"TIT2 inside picture data only", tag(3, frame23("APIC", apicFake)), {0, ""}},
        {"the comment with an empty description wins",
         tag(3, frame23("COMM", s("\0engiTunNORM\0 0A", 16)) + frame23("COMM", s("\0eng\0Mine", 9))), {0, ""}, "Mine"},
        {"the first comment when none has an empty description",
         tag(3, frame23("COMM", s("\0engA\0First", 11)) + frame23("COMM", s("\0engB\0Second", 12))), {0, ""}, "First"},
        {"genre reference alone shows its name", tag(3, frame23("TCON", s("\0(13)", 5))), {0, ""}, "", "Pop"},
        {"genre reference and name", tag(3, frame23("TCON", s("\0(17)Rock", 9))), {0, ""}, "", "Rock"},
        {"genre with parentheses inside is kept", tag(3, frame23("TCON", s("\0Rock (Live)", 12))), {0, ""}, "", "Rock (Live)"},
        {"2.4 genre number alone", tag(4, frame24("TCON", s("\x03" "13", 3))), {0, ""}, "", "Pop"},
        {"2.4 recording time gives the year", tag(4, frame24("TDRC", s("\x03" "2011-03-04T12:30", 17))), {0, ""}, "", "", "2011"},
        {"2.4 plain frame size written by older tools", tag(4, plainSize + frame24("TIT2", s("\0After", 6))), {0, "After"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path, c.file + kAudio);
        const Read r = readFields(path);
        EXPECT_TRUE(r.hasTag);
        EXPECT_EQ(r.fields[morvik::id3::tfTitle], c.title);
        EXPECT_EQ(r.fields[morvik::id3::tfComment].bytes, c.comment);
        EXPECT_EQ(r.fields[morvik::id3::tfGenre].bytes, c.genre);
        EXPECT_EQ(r.fields[morvik::id3::tfYear].bytes, c.year);
    }
}

// Damaged tags: nothing is read outside the file or the tag (the sanitizer
// build checks), the walk ends at the damage and the fields before it stand.
TEST(Id3v2Read, DamagedTagsKeepWhatWasReadBeforeTheDamage)
{
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    const std::string good = frame23("TIT2", s("\0Good", 5));
    struct Case {
        const char* name;
        std::string file;
        std::string title, artist;
    };
    const Case cases[] = {
        {"frame size beyond the tag", tag(3, good + "TPE1" + be32(5000) + bytes({0, 0}) + "x"), "Good", ""},
        {"zero-size frame is passed over", tag(3, frame23("TALB", "") + good + frame23("TPE1", s("\0A", 2))), "Good", "A"},
        {"2.4 size with the high bit set that fits nowhere", tag(4, frame24("TIT2", s("\0Good", 5)) + "TPE1" + bytes({0x80, 0, 0, 1, 0, 0}) + "x"),
         "Good", ""},
        {"identifier of lower-case letters", tag(3, good + frame23("tpe1", s("\0A", 2))), "Good", ""},
        {"tag claims 256 MiB", header(3, 0, 0x0FFFFFFF) + good + frame23("TPE1", s("\0A", 2)), "Good", "A"},
        {"odd-length UTF-16", tag(3, frame23("TIT2", s("\x01\xFF\xFE" "A\0B", 6))), s("\xFF\xFE" "AB", 4), ""},
        {"byte-order mark alone", tag(3, frame23("TIT2", s("\x01\xFF\xFE", 3))), "\xFF\xFE", ""},
        {"unpaired surrogate", tag(3, frame23("TIT2", s("\x01\xFF\xFE\x00\xD8" "A\0", 7))), s("\xFF\xFE\xD8" "A", 4), ""},
        {"extended header larger than the tag", tag(3, be32(9999) + good, 20, 0x40), "", ""},
        {"garbage header", "ID3\x03", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path, c.file + kAudio);
        TMP3id t(TTagView::ID3v2, false);
        t.Open(path, 0);
        EXPECT_TRUE(t.ReadTag());
        t.Close();
        EXPECT_EQ(t.Title(), c.title);
        EXPECT_EQ(t.Artist(), c.artist);
    }
}

// A 2.3 tag's other frames are kept byte for byte behind the eight, on the
// in-place path and on the rewrite path; the fields left alone keep their
// frames' bytes, and the audio stays as it was.
TEST(Id3v2Write, OtherFramesSurviveInPlaceAndRewriteByteForByte)
{
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    const std::string apic = frame23("APIC", s("\0image/png\0\x03\0", 13) + kPicture);
    const std::string title = frame23("TIT2", "\x01\xFF\xFE" + le16("Sora") + s("\0\0", 2));
    const std::string others = frame23("USLT", s("\0jpn\0La la", 10)) + frame23("TXXX", s("\0MusicBrainz Id\0abc", 19)) +
                               frame23("PRIV", "WM/ID" + s("\0\x01\x02", 3)) + frame23("COMM", s("\0engiTunNORM\0 0A 0B", 19));
    const std::string comment = frame23("COMM", s("\0eng\0Hi", 7));
    const std::string frames = apic + title + comment + others;
    struct Case {
        const char* name;
        std::size_t padding;
        bool inPlace;
    };
    const Case cases[] = {{"in place", 3000, true}, {"rewrite", 0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string old = tag(3, frames, c.padding);
        writeFile(path, old + kAudio);
        EXPECT_TRUE(rewriteFields(path, [](TTagFields& f) { f[morvik::id3::tfTrack] = {0, "5"}; }).empty());
        const std::string data = readFile(path);
        EXPECT_EQ(data.size() == old.size() + kAudio.size(), c.inPlace);
        EXPECT_EQ(data.substr(data.size() - kAudio.size()), kAudio);
        const auto written = framesOf(data);
        ASSERT_EQ(written.size(), 8u + 5u);
        const char* const eight[] = {"TPE1", "TIT2", "TALB", "TRCK", "COMM", "TCON", "TYER", "TSSE"};
        for (std::size_t i = 0; i < 8; ++i)
            EXPECT_EQ(written[i].first, eight[i]);
        EXPECT_EQ(written[1].second, title) << "the title left alone keeps its frame's bytes";
        EXPECT_EQ(written[4].second, comment);
        EXPECT_EQ(written[3].second, frame23("TRCK", s("\0" "5", 2)));
        std::string kept;
        for (std::size_t i = 8; i < written.size(); ++i)
            kept += written[i].second;
        EXPECT_EQ(kept, apic + others);
    }
}

// 2.4 and 2.2 frames are converted to the 2.3 layout; what 2.3 cannot hold
// is dropped and named.
TEST(Id3v2Write, ConvertsVersions24And22AndNamesWhatItDrops)
{
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    const std::string apic24 = frame24("APIC", "\x03image/png" + s("\0\x03", 2) + "\xE7\x94\xBB" + s("\0", 1) + kPicture);
    const std::string txxx24 = frame24("TXXX", s("\x03" "Key\0Value", 10));
    const std::string priv24 = frame24("PRIV", syncsafe(6) + unsynchronised(s("o\0\xFF\x00\xFF\xE0", 6)), 0x0003);
    const std::string compressed = frame24("TCOM", syncsafe(9) + "zlibdata", 0x0009);
    const std::string discard = frame24("TLEN", s("\0" "1000", 5), 0x4000);
    const std::string time = frame24("TDRC", s("\x03" "2011-03-04T12:30", 17));
    writeFile(path, tag(4, frame24("TIT2", s("\x03" "Hoshi", 6)) + apic24 + txxx24 + priv24 + compressed + discard + time) + kAudio);
    const auto dropped = rewriteFields(path, [](TTagFields&) {});
    ASSERT_EQ(dropped.size(), 2u);
    EXPECT_NE(dropped[0].find("TCOM"), std::string::npos) << dropped[0];
    EXPECT_NE(dropped[1].find("TLEN"), std::string::npos) << dropped[1];
    auto written = framesOf(readFile(path));
    ASSERT_EQ(written.size(), 8u + 5u);
    EXPECT_EQ(written[1].second, frame23("TIT2", "\x01\xFF\xFE" + le16("Hoshi")));
    EXPECT_EQ(written[6].second, frame23("TYER", "\x01\xFF\xFE" + le16("2011"))) << "year from TDRC, in UTF-16";
    EXPECT_EQ(written[8].second, frame23("APIC", "\x01image/png" + s("\0\x03", 2) + "\xFF\xFE" + s("\x3B\x75\0\0", 4) + kPicture));
    EXPECT_EQ(written[9].second, frame23("TXXX", "\x01\xFF\xFE" + le16("Key") + s("\0\0", 2) + "\xFF\xFE" + le16("Value")));
    EXPECT_EQ(written[10].second, frame23("PRIV", s("o\0\xFF\x00\xFF\xE0", 6)));
    EXPECT_EQ(written[11].second, frame23("TDAT", s("\0" "0403", 5)));
    EXPECT_EQ(written[12].second, frame23("TIME", s("\0" "1230", 5)));

    writeFile(path, tag(2, frame22("TT2", s("\0Old", 4)) + frame22("PIC", s("\0PNG\x03\0", 6) + kPicture) +
                               frame22("ULT", s("\0eng\0Words", 10)) + frame22("CRM", "owner")) + kAudio);
    const auto droppedV2 = rewriteFields(path, [](TTagFields&) {});
    ASSERT_EQ(droppedV2.size(), 1u);
    EXPECT_NE(droppedV2[0].find("CRM"), std::string::npos);
    written = framesOf(readFile(path));
    ASSERT_EQ(written.size(), 8u + 2u);
    EXPECT_EQ(written[1].second, frame23("TIT2", s("\0Old", 4)));
    EXPECT_EQ(written[8].second, frame23("APIC", s("\0image/png\0\x03\0", 13) + kPicture));
    EXPECT_EQ(written[9].second, frame23("USLT", s("\0eng\0Words", 10)));
}

// Frames the tag's own rules or damage exclude: a 2.3 frame asking to be
// discarded, a frame with an unknown text encoding, a zero-size frame, and
// damaged data that ended the walk (the frames before it are kept).
TEST(Id3v2Write, DamagedAndDiscardedFramesAreDroppedAndNamed)
{
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    const std::string keep = frame23("PRIV", s("a\0b", 3));
    writeFile(path, tag(3, keep + frame23("TLEN", s("\0" "9", 2), 0x8000) + frame23("APIC", "pppp") +
                               frame23("TENC", "") + "TPE1" + be32(900) + bytes({0, 0}) + "x") + kAudio);
    const auto dropped = rewriteFields(path, [](TTagFields&) {});
    ASSERT_EQ(dropped.size(), 4u);
    EXPECT_NE(dropped[0].find("TLEN"), std::string::npos);
    EXPECT_NE(dropped[1].find("APIC"), std::string::npos);
    EXPECT_NE(dropped[2].find("TENC"), std::string::npos);
    EXPECT_NE(dropped[3].find("damaged"), std::string::npos);
    const auto written = framesOf(readFile(path));
    ASSERT_EQ(written.size(), 9u);
    EXPECT_EQ(written[8].second, keep);
    EXPECT_EQ(readFile(path).substr(readFile(path).size() - kAudio.size()), kAudio);
}

// Texts the grid cannot take as Shift-JIS go in as UTF-16 and read back as
// written; the ID3v1 view refuses them; track texts are checked in any
// encoding.
TEST(Id3v2Write, FieldsOfEveryEncodingReadBackAsWritten)
{
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    writeFile(path, kAudio);
    const TTagField emoji{1, s("\xFF\xFE\x3C\xD8\xB5\xDF", 6)};
    const TTagField utf8{3, "\xED\x95\x9C"}; // 한, becomes UTF-16
    rewriteFields(path, [&](TTagFields& f) {
        f[morvik::id3::tfTitle] = emoji;
        f[morvik::id3::tfArtist] = utf8;
        f[morvik::id3::tfTrack] = {1, "\xFF\xFE" + le16("12")};
        f[morvik::id3::tfGenre] = {1, "\xFF\xFE" + le16("Rock")};
    });
    const Read r = readFields(path);
    EXPECT_EQ(r.fields[morvik::id3::tfTitle], emoji);
    EXPECT_EQ(r.fields[morvik::id3::tfArtist], (TTagField{1, s("\xFF\xFE\x5C\xD5", 4)}));
    EXPECT_EQ(r.fields[morvik::id3::tfTrack], (TTagField{1, "\xFF\xFE" + le16("12")}));
    EXPECT_EQ(r.fields[morvik::id3::tfGenre], (TTagField{1, "\xFF\xFE" + le16("Rock")}));
    EXPECT_NE(readFile(path).find("\xFF\xFE" + le16("(17)Rock")), std::string::npos);

    const std::string before = readFile(path);
    EXPECT_THROW(rewriteFields(path, [](TTagFields& f) { f[morvik::id3::tfTrack] = {1, "\xFF\xFE" + le16("x")}; }),
                 morvik::TTagWriteError);
    EXPECT_EQ(readFile(path), before);
    TMP3id v1(TTagView::ID3v1, false);
    v1.Open(path, 2);
    TTagFields fields;
    fields[morvik::id3::tfTitle] = emoji;
    EXPECT_THROW(v1.WriteTag(false, fields, 0), morvik::TTagWriteError);
    v1.Close();
    EXPECT_EQ(readFile(path), before);
}

} // namespace
