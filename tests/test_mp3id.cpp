#include "id3/mp3id.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace testsupport;
using morvik::GenreIndex;
using morvik::GenreTable;
using morvik::TMP3id;
using morvik::TTagView;
using morvik::TTagWriteError;
using morvik::id3::buildId3v2Tag;

namespace {

struct ReadResult {
    bool hasTag;
    std::string title, artist, album, year, comment, track, genre;
    std::int32_t position;
};

ReadResult readTag(const std::string& path, TTagView view)
{
    TMP3id tag(view, false);
    tag.Open(path, 0);
    ReadResult r;
    r.hasTag = tag.ReadTag();
    tag.Close();
    r.title = tag.Title();
    r.artist = tag.Artist();
    r.album = tag.Album();
    r.year = tag.Year();
    r.comment = tag.Comment();
    r.track = tag.Track();
    r.genre = tag.Genre();
    r.position = tag.TagPosition();
    return r;
}

struct Texts {
    std::string title = "T", artist = "A", album = "L", year = "1999", comment = "C", track = "3",
                genre = "Rock";
};

// Reads as the window's load does, then writes as its apply does.
void writeTag(const std::string& path, TTagView view, const Texts& t, bool keepDate = false)
{
    const ReadResult before = readTag(path, view);
    TMP3id tag(view, keepDate);
    tag.Open(path, 2);
    tag.WriteTag(before.hasTag, t.title, t.artist, t.album, t.year, t.comment, t.track, t.genre,
                 before.position);
    tag.Close();
}

std::string syncSafe(std::uint32_t v)
{
    return bytes({int(v >> 21 & 0x7F), int(v >> 14 & 0x7F), int(v >> 7 & 0x7F), int(v & 0x7F)});
}

std::string frame(const std::string& id, const std::string& body)
{
    const auto n = static_cast<std::uint32_t>(body.size());
    return id + bytes({int(n >> 24), int(n >> 16 & 255), int(n >> 8 & 255), int(n & 255), 0, 0}) + body;
}

// An ID3v2 header of the given version and flags declaring `size` bytes.
std::string header(int version, int flags, std::uint32_t size)
{
    return "ID3" + bytes({version, 0, flags}) + syncSafe(size);
}

std::string v23Tag(const std::string& frames, std::uint32_t declared)
{
    std::string tag = header(3, 0, declared) + frames;
    tag.resize(10 + declared, '\0');
    return tag;
}

std::string v1Record(const std::string& body125, int b125, int b126, int genre)
{
    std::string r = "TAG" + body125;
    r.resize(125, '\0');
    return r + bytes({b125, b126, genre});
}

const std::string kAudio = std::string(300, '\xFB') + std::string(300, '\x90');

// The frames (without the header) WriteTag builds for `t`.
std::string framesFor(const Texts& t)
{
    return buildId3v2Tag(t.title, t.artist, t.album, t.year, t.comment, t.track, t.genre).substr(10);
}

timespec mtimeOf(const std::string& path)
{
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mtim;
}

void setMtime(const std::string& path, timespec t)
{
    const timespec times[2] = {t, t};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

} // namespace

TEST(GenreTable, HoldsTheUsualListEmptySlotsAndOurOwnNames)
{
    const auto& t = GenreTable();
    EXPECT_EQ(t[0], "Blues");
    EXPECT_EQ(t[79], "Hard Rock");
    EXPECT_EQ(t[147], "Synthpop");
    for (int i = 148; i < 248; ++i)
        EXPECT_EQ(t[i], "") << i;
    EXPECT_EQ(t[248], "Heavy Rock(J)");
    EXPECT_EQ(t[255], "Anime(J)");
    EXPECT_EQ(GenreIndex(""), 148);
    EXPECT_EQ(GenreIndex("rock"), -1); // letter case counts
}

TEST(Id3v1Read, RecordFieldsAndTheirQuirks)
{
    TempDir dir;
    struct Case {
        const char* name;
        std::string record;
        std::string title, year, comment, track, genre;
    };
    const std::string padTitle = "Song" + std::string(26, '\0');
    const Case cases[] = {
        {"track zero", v1Record(padTitle + std::string(30 + 30, 'a') + "1999", 0x00, 0x00, 17),
         "Song", "1999", "", "0", "Rock"},
        {"0x20 at 125 means no track", v1Record(padTitle, 0x20, 0x09, 255), "Song", "", "", "", "Anime(J)"},
        {"short year keeps its padding", v1Record(padTitle + std::string(60, '\0') + std::string("98\0\0", 4) + "hi  ", 0x00, 7, 200),
         "Song", std::string("98\0\0", 4), "hi  ", "7", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("a.mp3");
        writeFile(path, kAudio + c.record);
        const ReadResult r = readTag(path, TTagView::ID3v1);
        EXPECT_TRUE(r.hasTag);
        EXPECT_EQ(r.title, c.title);
        EXPECT_EQ(r.year, c.year);
        EXPECT_EQ(r.comment, c.comment);
        EXPECT_EQ(r.track, c.track);
        EXPECT_EQ(r.genre, c.genre);
        EXPECT_EQ(r.position, static_cast<std::int32_t>(kAudio.size() + 3));
    }
}

TEST(Id3v1Read, PositionsAndFilesWithoutARecord)
{
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    // The record at exactly 128 bytes before the end wins over a "TAG" in
    // the audio before it; without one, a "TAG" of the last 200 bytes whose
    // whole record fits is taken.
    writeFile(path, kAudio + "xxTAGearly" + v1Record("Real", 0x20, 0x20, 1));
    ReadResult r = readTag(path, TTagView::ID3v1);
    EXPECT_TRUE(r.hasTag);
    EXPECT_EQ(r.position, static_cast<std::int32_t>(kAudio.size() + 10 + 3));
    EXPECT_EQ(r.title.substr(0, 4), "Real");
    writeFile(path, kAudio + "xxTAGearly" + v1Record("Real", 0x20, 0x20, 1) + "zz");
    r = readTag(path, TTagView::ID3v1);
    EXPECT_EQ(r.position, static_cast<std::int32_t>(kAudio.size() + 2 + 3));
    EXPECT_EQ(r.title.substr(0, 5), "early");
    writeFile(path, kAudio + "xxxxxxxxxx" + v1Record("Real", 0x20, 0x20, 1).substr(0, 100));
    EXPECT_FALSE(readTag(path, TTagView::ID3v1).hasTag) << "a record that does not fit";

    writeFile(path, kAudio);
    r = readTag(path, TTagView::ID3v1);
    EXPECT_FALSE(r.hasTag);
    EXPECT_EQ(r.position, static_cast<std::int32_t>(kAudio.size() - 200));
    EXPECT_EQ(r.track, "");

    writeFile(path, std::string(150, 'x') + "TAG");
    EXPECT_FALSE(readTag(path, TTagView::ID3v1).hasTag) << "shorter than 200 bytes, no record at its end";
    EXPECT_FALSE(readTag(dir.file("missing.mp3"), TTagView::ID3v1).hasTag);
    EXPECT_FALSE(readTag(dir.file("missing.mp3"), TTagView::ID3v2).hasTag);
}

TEST(Id3v1Write, AppendedRecordIsByteExact)
{
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    writeFile(path, kAudio);
    Texts t;
    t.title = "Title";
    t.artist = "\x83\x65\x83\x58\x83\x67"; // Shift-JIS, kept byte for byte
    t.album = "Album";
    t.year = "99";
    t.comment = "Note";
    t.track = "12";
    t.genre = "Anime(J)";
    writeTag(path, TTagView::ID3v1, t);

    std::string expected = "TAG";
    expected += "Title" + std::string(25, '\0');
    expected += "\x83\x65\x83\x58\x83\x67" + std::string(24, '\0');
    expected += "Album" + std::string(25, '\0');
    expected += std::string("99\0\0", 4);
    expected += "Note" + std::string(24, ' ');
    expected += bytes({0x00, 12, 255});
    EXPECT_EQ(readFile(path), kAudio + expected);

    const ReadResult r = readTag(path, TTagView::ID3v1);
    EXPECT_EQ(r.artist, t.artist);
    EXPECT_EQ(r.comment, "Note" + std::string(24, ' '));
    EXPECT_EQ(r.track, "12");
}

TEST(Id3v1Write, UpdatesInPlaceGenresTracksAndCuts)
{
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    struct Case {
        const char* name;
        std::string genre, track, title;
        int genreByte, b125, b126;
        std::string titleBytes;
    };
    const std::string kanji29 = std::string(28, 'a') + "\x88\x9F"; // a double-byte char at 28-29
    const std::string kanji30 = std::string(29, 'a') + "\x88\x9F"; // would split at 29-30
    const std::string trailLooksLikeLead = "\x88\x81\x88\x81" + std::string(25, 'a') + "\x81\x40";
    const Case cases[] = {
        {"unknown genre gives 0", "Nonsense", "", "t", 0, 0x20, 0x20, "t"},
        {"empty genre gives 148", "", "0", "t", 148, 0x00, 0, "t"},
        {"own genre", "Anime(J)", "255", "t", 255, 0x00, 255, "t"},
        {"double-byte char fits", "Pop", "1", kanji29, 13, 0, 1, kanji29},
        {"double-byte char not split", "Pop", "1", kanji30 + "zz", 13, 0, 1, std::string(29, 'a')},
        {"trail byte in lead range", "Pop", "1", trailLooksLikeLead, 13, 0, 1, trailLooksLikeLead.substr(0, 29)},
        {"track n of m writes n", "Pop", "2/12", "t", 13, 0, 2, "t"},
        {"leading zeros", "Pop", "007", "t", 13, 0, 7, "t"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path, kAudio + v1Record("Old", 0x20, 0x20, 0));
        Texts t;
        t.title = c.title;
        t.genre = c.genre;
        t.track = c.track;
        writeTag(path, TTagView::ID3v1, t);
        const std::string data = readFile(path);
        ASSERT_EQ(data.size(), kAudio.size() + 128) << "the record is updated where it stands";
        const std::string rec = data.substr(kAudio.size());
        EXPECT_EQ(rec.substr(0, 3), "TAG");
        std::string title = c.titleBytes;
        title.resize(30, '\0');
        EXPECT_EQ(rec.substr(3, 30), title);
        EXPECT_EQ(static_cast<unsigned char>(rec[125]), c.b125);
        EXPECT_EQ(static_cast<unsigned char>(rec[126]), c.b126);
        EXPECT_EQ(static_cast<unsigned char>(rec[127]), c.genreByte);
    }
}

TEST(WriteTag, TrackTextsEachViewTakes)
{
    struct Case {
        const char* track;
        bool v1, v2;
        std::uint32_t number;
    };
    const Case cases[] = {
        {"", true, true, 0},         {"0", true, true, 0},         {"255", true, true, 255},
        {"0255", true, true, 255},   {"256", false, true, 256},    {"1000", false, true, 1000},
        {"2/12", true, true, 2},     {"255/300", true, true, 255}, {"300/12", false, true, 300},
        {"99999999999", false, true, UINT32_MAX},
        {"-1", false, false, 0},     {"x", false, false, 0},       {" 4", false, false, 0},
        {"4 ", false, false, 0},     {"4/", false, false, 0},      {"/4", false, false, 0},
        {"4/x", false, false, 0},    {"1/2/3", false, false, 0},   {"４", false, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.track);
        std::uint32_t number = 12345;
        EXPECT_EQ(morvik::id3::parseTrack(c.track, TTagView::ID3v1, &number), c.v1);
        EXPECT_EQ(morvik::id3::parseTrack(c.track, TTagView::ID3v2, &number), c.v2);
        if (c.v2) {
            EXPECT_EQ(number, c.number);
        }
    }
}

TEST(WriteTag, RefusesABadTrackBeforeWritingInBothViews)
{
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    const std::pair<TTagView, const char*> refused[] = {
        {TTagView::ID3v1, "256"}, {TTagView::ID3v1, "-1"}, {TTagView::ID3v1, "x"},   {TTagView::ID3v1, "300/12"},
        {TTagView::ID3v2, "-1"},  {TTagView::ID3v2, "x"},  {TTagView::ID3v2, " 4"}, {TTagView::ID3v2, "4/"},
    };
    for (const auto& [view, track] : refused) {
        SCOPED_TRACE(track);
        const std::string original = header(3, 0, 20) + std::string(20, '\0') + kAudio;
        writeFile(path, original);
        TMP3id tag(view, false);
        tag.Open(path, 2);
        try {
            tag.WriteTag(false, "t", "a", "l", "y", "c", track, "Pop", 0);
            ADD_FAILURE() << "accepted";
        } catch (const TTagWriteError& e) {
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos);
            EXPECT_NE(std::string(e.what()).find(track), std::string::npos);
            EXPECT_EQ(e.fault(), morvik::TWriteFault::BadTrack);
            EXPECT_EQ(e.fileName(), path);
            EXPECT_EQ(e.subject(), track);
        }
        tag.Close();
        EXPECT_EQ(readFile(path), original);
    }
}

// Whatever track text another program left in the ID3v2 tag is written back
// with the other fields; only a new text must be a track number.
TEST(WriteTag, Id3v2KeepsTheTrackTextItsTagHolds)
{
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    const std::string utf16Track = std::string("\x01\xFF\xFE" "T\0r\0 \0" "5\0", 11);
    for (const std::string& body : {std::string("\0Track 5", 8), utf16Track}) {
        writeFile(path, v23Tag(frame("TRCK", body) + frame("TIT2", std::string("\0Old", 4)), 100) + kAudio);
        TMP3id tag(TTagView::ID3v2, false);
        tag.Open(path, 2);
        const bool hasTag = tag.ReadTag();
        morvik::id3::TTagFields fields = tag.Fields();
        fields[morvik::id3::tfTitle] = {0, "New"};
        tag.WriteTag(hasTag, fields, tag.TagPosition());
        tag.Close();
        EXPECT_NE(readFile(path).find(frame("TRCK", body)), std::string::npos);
        EXPECT_EQ(readTag(path, TTagView::ID3v2).title, "New");

        const std::string before = readFile(path);
        TMP3id other(TTagView::ID3v2, false);
        other.Open(path, 2);
        fields[morvik::id3::tfTrack] = {0, "Track 6"};
        EXPECT_THROW(other.WriteTag(true, fields, 0), TTagWriteError);
        other.Close();
        EXPECT_EQ(readFile(path), before);
    }
}

// A file shorter than the 200 bytes searched (a record appended to an empty
// file) reads its record from its last 128 bytes, so writes update it.
TEST(Id3v1, ShortFilesReadTheRecordAtTheirEnd)
{
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    struct Case {
        const char* name;
        std::string content;
        bool hasTag;
        std::int32_t position;
    };
    const Case cases[] = {
        {"record alone", v1Record("Solo", 0x20, 0x20, 1), true, 3},
        {"record after 71 bytes", std::string(71, 'x') + v1Record("Solo", 0x20, 0x20, 1), true, 74},
        {"127 bytes", v1Record("Solo", 0x20, 0x20, 1).substr(0, 127), false, 127 - 200},
        {"TAG not 128 bytes from the end", std::string(10, 'x') + v1Record("Solo", 0x20, 0x20, 1) + "zz", false,
         140 - 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path, c.content);
        const ReadResult r = readTag(path, TTagView::ID3v1);
        EXPECT_EQ(r.hasTag, c.hasTag);
        EXPECT_EQ(r.position, c.position);
        if (c.hasTag) {
            EXPECT_EQ(r.title, "Solo");
        }
    }

    // An empty file written twice holds one record.
    writeFile(path, "");
    Texts t;
    writeTag(path, TTagView::ID3v1, t);
    EXPECT_EQ(readFile(path).size(), 128u);
    t.title = "Second";
    writeTag(path, TTagView::ID3v1, t);
    EXPECT_EQ(readFile(path).size(), 128u);
    EXPECT_EQ(readTag(path, TTagView::ID3v1).title, "Second");
}

TEST(Id3v1Write, FieldsAsTheRecordHoldsThem)
{
    using morvik::id3::TTagFields;
    const std::string kanji30 = std::string(29, 'a') + "\x88\x9F";
    const auto fields = [](std::string title, std::string year, std::string comment, std::string track,
                           std::string genre) {
        return TTagFields{{{0, title}, {0, "artist"}, {0, "album"}, {0, year}, {0, comment}, {0, track}, {0, genre}}};
    };
    struct Case {
        const char* name;
        TTagFields given, written;
    };
    const Case cases[] = {
        {"short texts stay", fields("t", "1999", "c", "3", "Rock"), fields("t", "1999", "c", "3", "Rock")},
        {"cut to the widths", fields(std::string(40, 'T'), "19999", std::string(29, 'c'), "", ""),
         fields(std::string(30, 'T'), "1999", std::string(28, 'c'), "", "")},
        {"never inside a double-byte character", fields(kanji30, "", "", "", ""),
         fields(std::string(29, 'a'), "", "", "", "")},
        {"track n of m and zeros", fields("t", "", "", "02/12", "Pop"), fields("t", "", "", "2", "Pop")},
        {"genre not in the table", fields("t", "", "", "", "J-Rock"), fields("t", "", "", "", "Blues")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(morvik::id3::asWrittenToId3v1(c.given), c.written) << c.name;
}

TEST(Id3v1Write, RefusesARecordThatIsNoLongerWhereItWasRead)
{
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    writeFile(path, kAudio + v1Record("Old", 0x20, 0x20, 0));
    const ReadResult before = readTag(path, TTagView::ID3v1);
    // Another program rewrote the file after it was listed.
    const std::string changed = "xyz" + kAudio + v1Record("Old", 0x20, 0x20, 0);
    writeFile(path, changed);
    TMP3id tag(TTagView::ID3v1, false);
    tag.Open(path, 2);
    EXPECT_THROW(tag.WriteTag(true, "New", "", "", "", "", "", "", before.position), TTagWriteError);
    tag.Close();
    EXPECT_EQ(readFile(path), changed);
}

TEST(Id3v2Write, NewTagIsByteExact)
{
    Texts t;
    t.title = "Ti";
    t.artist = "Ar";
    t.album = "";
    t.year = "2001";
    t.comment = "Co";
    t.track = "7";
    t.genre = "Pop";
    const std::string expected = std::string("ID3\x03\x00\x00\x00\x00\x00\x00", 10) +
        frame("TPE1", std::string("\0Ar", 3)) + frame("TIT2", std::string("\0Ti", 3)) +
        frame("TALB", std::string("\0", 1)) + frame("TRCK", std::string("\0" "7", 2)) +
        frame("COMM", std::string("\0eng\0Co", 7)) + frame("TCON", std::string("\0(13)Pop", 8)) +
        frame("TYER", std::string("\0" "2001", 5)) + frame("TSSE", std::string("\0Morvik ver2.01", 15));
    EXPECT_EQ(buildId3v2Tag(t.title, t.artist, t.album, t.year, t.comment, t.track, t.genre), expected);

    EXPECT_NE(buildId3v2Tag("", "", "", "", "", "", "Mine").find(std::string("\0(256)Mine", 10)), std::string::npos);
    EXPECT_NE(buildId3v2Tag("", "", "", "", "", "", "").find(std::string("\0(148)TYER", 10)), std::string::npos);

    // A file without a tag: the tag, 2001 bytes of padding, then the whole old file.
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    writeFile(path, kAudio);
    writeTag(path, TTagView::ID3v2, t);
    std::string tag = expected + std::string(2001, '\0');
    const std::string size = syncSafe(static_cast<std::uint32_t>(tag.size() - 10));
    tag.replace(6, 4, size);
    EXPECT_EQ(readFile(path), tag + kAudio);
}

TEST(Id3v2Write, InPlaceOrRewriteDecidedAtTheSizeBoundary)
{
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    Texts t;
    const std::string frames = framesFor(t);
    const auto L = static_cast<std::uint32_t>(frames.size());
    const std::string picture = frame("APIC", std::string(40, 'p'));
    struct Case {
        const char* name;
        std::uint32_t declared;
        bool inPlace;
    };
    const Case cases[] = {
        {"exactly the frames", L, true},
        {"room to spare", L + 500, true},
        {"one byte short", L - 1, false},
        {"nine bytes short", L - 9, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string old = v23Tag(picture, c.declared);
        writeFile(path, old + kAudio);
        writeTag(path, TTagView::ID3v2, t);
        const std::string data = readFile(path);
        if (c.inPlace) {
            std::string expected = header(3, 0, c.declared) + frames;
            expected.resize(10 + c.declared, '\0');
            EXPECT_EQ(data, expected + kAudio);
        } else {
            ASSERT_EQ(data.size(), 10 + L + 2001 + kAudio.size());
            EXPECT_EQ(data.substr(6, 4), syncSafe(L + 2001));
            EXPECT_EQ(data.substr(10 + L + 2001), kAudio);
        }
        EXPECT_EQ(data.find("APIC"), std::string::npos) << "other frames are dropped";
        const ReadResult r = readTag(path, TTagView::ID3v2);
        EXPECT_EQ(r.title, t.title);
        EXPECT_EQ(r.genre, "Rock");
    }
}

TEST(Id3v2Write, SecondEditFitsThePaddingAndKeepsTheSize)
{
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    writeFile(path, kAudio);
    writeTag(path, TTagView::ID3v2, Texts{});
    const auto size = readFile(path).size();
    Texts longer;
    longer.title = std::string(1500, 'x');
    longer.comment = std::string(480, 'y');
    writeTag(path, TTagView::ID3v2, longer);
    EXPECT_EQ(readFile(path).size(), size);
    EXPECT_EQ(readTag(path, TTagView::ID3v2).comment, longer.comment);
    EXPECT_EQ(readFile(path).substr(size - kAudio.size()), kAudio);
}

TEST(Id3v2Write, UnusualHeadersAreReplacedByOneCleanTag)
{
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    Texts t;
    const auto L = static_cast<std::uint32_t>(framesFor(t).size());
    struct Case {
        const char* name;
        std::string oldTag;
    };
    const std::string room(L + 200, '\0');
    const Case cases[] = {
        {"version 2.4", header(4, 0, L + 200) + room},
        {"version 2.2", header(2, 0, L + 200) + room},
        {"unsynchronisation", header(3, 0x80, L + 200) + room},
        {"extended header", header(3, 0x40, L + 200) + room},
        {"2.4 with footer", header(4, 0x10, L + 200) + room + "3DI" + bytes({4, 0, 0x10}) + syncSafe(L + 200)},
        {"only ID3 at offset 0 is a tag", "xxID3" + std::string(20, 'z')},
        {"tag alone, no audio", header(3, 0, 4) + "abcd"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool noAudio = std::string(c.name) == "tag alone, no audio";
        const bool noTag = c.oldTag[0] != 'I';
        writeFile(path, c.oldTag + (noAudio ? "" : kAudio));
        writeTag(path, TTagView::ID3v2, t);
        const std::string data = readFile(path);
        EXPECT_EQ(data.substr(0, 10), header(3, 0, L + 2001));
        const std::string rest = data.substr(10 + L + 2001);
        EXPECT_EQ(rest, (noTag ? c.oldTag : "") + (noAudio ? "" : kAudio));
        EXPECT_EQ(readTag(path, TTagView::ID3v2).artist, t.artist);
    }
}

TEST(Id3v2Read, FramesFoundByTheirHeaders)
{
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    struct Case {
        const char* name;
        std::string file;
        std::string title, comment, track, genre;
    };
    const std::string utf16 = std::string("\x01\xFF\xFE" "A\0B\0", 7);
    const std::string nearEnd = std::string(4080, 'z');
    const Case cases[] = {
        {"plain texts", v23Tag(frame("TIT2", std::string("\0Song", 5)) + frame("TCON", std::string("\0(17)Rock", 9)) +
                                   frame("COMM", std::string("\0eng\0Hello", 10)), 100),
         "Song", "Hello", "", "Rock"},
        {"terminated texts end at 0x00", v23Tag(frame("TRCK", std::string("\0" "4\0", 3)) + frame("TIT2", std::string("\0Ab\0zz", 6)), 60),
         "Ab", "", "4", ""},
        {"comment description is passed over", v23Tag(frame("COMM", std::string("\0engDesc\0Body\0", 14)), 40),
         "", "Body", "", ""},
        {"genre number alone", v23Tag(frame("TCON", std::string("\0(148)", 6)), 30), "", "", "", ""},
        {"other encodings byte for byte", v23Tag(frame("TIT2", utf16), 30), "\xFF\xFE" "AB", "", "", ""},
        {"version 2.2 frames are read", header(2, 0, 30) + "TT2" + bytes({0, 0, 5, 0}) + "Song" + std::string(17, '\0'),
         "Song", "", "", ""},
        {"bytes that are not a frame end the walk", header(3, 0, 5000) + nearEnd.substr(0, 4065) + frame("TIT2", std::string("\0") + std::string(40, 'q')),
         "", "", "", ""},
        {"frame beyond the window", header(3, 0, 5000) + nearEnd + nearEnd + frame("TIT2", std::string("\0q", 2)),
         "", "", "", ""},
        {"an identifier inside another frame is data", v23Tag(frame("TALB", std::string("\0TIT2", 5) + bytes({0, 0, 0, 3, 0, 0, 0}) + "xy"), 60),
         "", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path, c.file + kAudio);
        const ReadResult r = readTag(path, TTagView::ID3v2);
        EXPECT_TRUE(r.hasTag);
        EXPECT_EQ(r.title, c.title);
        EXPECT_EQ(r.comment, c.comment);
        EXPECT_EQ(r.track, c.track);
        EXPECT_EQ(r.genre, c.genre);
    }
    writeFile(path, kAudio);
    EXPECT_FALSE(readTag(path, TTagView::ID3v2).hasTag);
}

TEST(Id3v2Write, ShiftJisBytesRoundTripExactly)
{
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    writeFile(path, kAudio);
    Texts t;
    t.title = "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x5e\x83\x43\x83\x67\x83\x8b"; // 日本語のタイトル
    t.artist = "\x83\x41\x81\x5b\x83\x65\x83\x42\x83\x58\x83\x67";
    t.genre = "\x83\x57\x83\x83\x83\x59"; // not in the table
    for (TTagView view : {TTagView::ID3v2, TTagView::ID3v1}) {
        writeTag(path, view, t);
        const ReadResult r = readTag(path, view);
        EXPECT_EQ(r.title, t.title);
        EXPECT_EQ(r.artist, t.artist);
        EXPECT_EQ(r.genre, view == TTagView::ID3v2 ? t.genre : "Blues");
    }
}

TEST(WriteTag, KeepDateRestoresTheTimeOnEveryPath)
{
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    const timespec past{1'000'000'000, 123'456'789};
    struct Case {
        const char* name;
        TTagView view;
        std::string file;
    };
    const Case cases[] = {
        {"ID3v1 append", TTagView::ID3v1, kAudio},
        {"ID3v1 update", TTagView::ID3v1, kAudio + v1Record("x", 0x20, 0x20, 1)},
        {"ID3v2 rewrite", TTagView::ID3v2, kAudio},
        {"ID3v2 in place", TTagView::ID3v2, v23Tag("", 3000) + kAudio},
    };
    for (const Case& c : cases) {
        for (bool keep : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (keep ? " keep" : " no keep"));
            writeFile(path, c.file);
            setMtime(path, past);
            writeTag(path, c.view, Texts{}, keep);
            const timespec after = mtimeOf(path);
            EXPECT_EQ(readTag(path, c.view).title, "T");
            if (keep) {
                EXPECT_EQ(after.tv_sec, past.tv_sec);
                EXPECT_EQ(after.tv_nsec, past.tv_nsec);
            } else {
                EXPECT_NE(after.tv_sec, past.tv_sec);
            }
        }
    }
}

TEST(Id3v2Write, RewriteKeepsPermissionsAndLeavesNoTemporaryFile)
{
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    writeFile(path, kAudio);
    ASSERT_EQ(::chmod(path.c_str(), 0604), 0);
    writeTag(path, TTagView::ID3v2, Texts{});
    struct stat st {};
    ::stat(path.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0604u);
    EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{"a.mp3"});
}

TEST(Id3v2Write, FailedRewriteLeavesTheOriginalIntact)
{
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    const std::string original = std::string(64 * 1024, '\x42');
    writeFile(path, original);

    // A file-size limit below the new file's size makes the copy fail half-way,
    // as a full disk would.
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &previous);
    rlimit oldLimit{};
    ::getrlimit(RLIMIT_FSIZE, &oldLimit);
    rlimit limit = oldLimit;
    limit.rlim_cur = 40 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);

    std::string message;
    {
        TMP3id tag(TTagView::ID3v2, true);
        tag.Open(path, 2);
        try {
            tag.WriteTag(false, "t", "a", "l", "y", "c", "1", "Pop", 0);
        } catch (const TTagWriteError& e) {
            message = e.what();
        }
        tag.Close();
    }
    ::setrlimit(RLIMIT_FSIZE, &oldLimit);
    ::sigaction(SIGXFSZ, &previous, nullptr);

    EXPECT_NE(message.find(path), std::string::npos) << message;
    EXPECT_NE(message.find("File too large"), std::string::npos) << message;
    EXPECT_EQ(readFile(path), original);
    EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{"a.mp3"});
}

TEST(WriteTag, AFileThatCannotBeOpenedIsNotWritten)
{
    TempDir dir;
    TMP3id tag(TTagView::ID3v2, false);
    tag.Open(dir.file("missing.mp3"), 2);
    EXPECT_FALSE(tag.IsOpen());
    EXPECT_NE(tag.OpenError(), 0);
    tag.WriteTag(false, "t", "a", "l", "y", "c", "1", "Pop", 0);
    tag.Close();
    EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{});
}

// morvik-cli drives the library as the window does.
TEST(CommandLine, ReadAndWriteEscapeBytesAndReportFailures)
{
    TempDir dir;
    const std::string path = dir.file("a\tb.mp3");
    writeFile(path, kAudio);
    const std::string cli = shellQuote(cliPath());
    ASSERT_EQ(run(cli + " write --v1 " + shellQuote(path) + " 'Ti\\t' " + shellQuote("\x83\x65") + " Al 2000 Co 5 Pop").status, 0);
    CommandResult r = run(cli + " read " + shellQuote(path));
    EXPECT_EQ(r.status, 0);
    const std::string pathOut = dir.path() + "/a\\tb.mp3";
    EXPECT_EQ(r.output, pathOut + "\t1\tTi\\\\t\t\\x83e\tAl\t2000\tCo" + std::string(26, ' ') + "\t5\tPop\t" +
                            std::to_string(kAudio.size() + 3) + "\n");

    r = run(cli + " read --v2 " + shellQuote(path));
    EXPECT_EQ(r.output, pathOut + "\t0\t\t\t\t\t\t\t\t0\n");
    EXPECT_NE(run(cli + " write " + shellQuote(dir.file("missing.mp3")) + " t a l y c 1 Pop 2>/dev/null").status, 0);
    EXPECT_NE(run(cli + " write --v2 " + shellQuote(path) + " t a l y c x300 Pop 2>/dev/null").status, 0);
    EXPECT_NE(run(cli + " write --v1 " + shellQuote(path) + " t a l y c 300 Pop 2>/dev/null").status, 0);
    EXPECT_EQ(run(cli + " write --v2 " + shellQuote(path) + " t a l y c 2/12 Pop").status, 0);
    EXPECT_EQ(run(cli + " read --v2 " + shellQuote(path)).output, pathOut + "\t1\tt\ta\tl\ty\tc\t2/12\tPop\t0\n");
}

// Tags of a real peer: ffmpeg writes, we read; we write, ffprobe reads.
TEST(Interoperability, FfmpegTagsReadAndOurTagsReadByFfprobe)
{
    TempDir dir;
    const std::string mp3 = dir.file("tone.mp3");
    writeFile(mp3, toneMp3());
    const std::string tagged = dir.file("tagged.mp3");
    const CommandResult made = run("ffmpeg -nostdin -loglevel error -i " + shellQuote(mp3) +
                                   " -c copy -id3v2_version 3 -metadata title=Sora -metadata artist=Umi"
                                   " -metadata album=Kaze -metadata track=4 -metadata date=2011 " + shellQuote(tagged));
    ASSERT_EQ(made.status, 0);
    ReadResult r = readTag(tagged, TTagView::ID3v2);
    EXPECT_TRUE(r.hasTag);
    EXPECT_EQ(r.title, "Sora");
    EXPECT_EQ(r.artist, "Umi");
    EXPECT_EQ(r.album, "Kaze");
    EXPECT_EQ(r.track, "4");

    Texts t;
    t.title = "Hoshi";
    t.artist = "Tsuki";
    t.album = "Yoru";
    t.track = "9";
    writeTag(mp3, TTagView::ID3v2, t);
    const CommandResult probe = run("ffprobe -loglevel error -show_entries format_tags=title,artist,album,track"
                                    " -of default=nw=1 " + shellQuote(mp3));
    ASSERT_EQ(probe.status, 0);
    EXPECT_NE(probe.output.find("TAG:title=Hoshi\n"), std::string::npos) << probe.output;
    EXPECT_NE(probe.output.find("TAG:artist=Tsuki\n"), std::string::npos) << probe.output;
    EXPECT_NE(probe.output.find("TAG:album=Yoru\n"), std::string::npos) << probe.output;
    EXPECT_NE(probe.output.find("TAG:track=9\n"), std::string::npos) << probe.output;
}
