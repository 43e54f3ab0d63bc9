// The file survey on files built byte by byte: ID3v2 (with an extended
// header, other versions, unsynchronisation, UTF-16 frames, frames larger
// than the reader), RIFF/WAVE with LIST/INFO, MacBinary, ID3v1 and Lyrics3
// versions 1 and 2, and every file cut short at every byte.
#include "compo/mp3info.h"

#include <gtest/gtest.h>

#include "compo/streamreader.h"
#include "id3/mp3id.h"
#include "testsupport.h"

using namespace morvik;
using testsupport::bytes;
using testsupport::repeat;
using testsupport::be32;
using testsupport::le32;
using testsupport::syncsafe;

namespace {

std::string id3v2(int major, int flags, const std::string& body)
{
    return "ID3" + bytes({major, 0, flags}) + syncsafe(static_cast<std::uint32_t>(body.size())) + body;
}

std::string frame(const std::string& id, const std::string& body)
{
    return id + be32(static_cast<std::uint32_t>(body.size())) + bytes({0, 0}) + body;
}

// Frame-like bytes; the survey does not look inside the audio.
std::string audio(std::size_t n = 417) { return bytes({0xFF, 0xFB, 0x90, 0x64}) + repeat('\x55', n - 4); }

std::string field(const std::string& text, std::size_t width)
{
    std::string s = text.substr(0, width);
    s.resize(width, '\0');
    return s;
}

std::string id3v1(const std::string& title, int track, int genre, bool withTrack = true)
{
    std::string comment = withTrack ? field("comment  ", 28) : std::string(28, 'c');
    comment += withTrack ? bytes({0, track}) : std::string("xy");
    return "TAG" + field(title, 30) + field("Artist", 30) + field("Album", 30) + "2024" + comment +
           bytes({genre});
}

std::string lyrics1(const std::string& text) { return "LYRICSBEGIN" + text + "LYRICSEND"; }

std::string lyrics2(const std::vector<std::pair<std::string, std::string>>& fields)
{
    std::string block = "LYRICSBEGIN";
    for (const auto& [id, value] : fields) {
        char length[6];
        std::snprintf(length, sizeof length, "%05zu", value.size());
        block += id + length + value;
    }
    char size[7];
    std::snprintf(size, sizeof size, "%06zu", block.size());
    return block + size + "LYRICS200";
}

std::string chunk(const std::string& id, const std::string& body)
{
    std::string c = id + le32(static_cast<std::uint32_t>(body.size())) + body;
    if (body.size() % 2)
        c += '\0';
    return c;
}

std::string riff(const std::string& chunks) { return "RIFF" + le32(static_cast<std::uint32_t>(chunks.size() + 4)) + "WAVE" + chunks; }

std::string macBinary(std::uint32_t dataLength, std::uint32_t resourceLength)
{
    std::string h(128, '\0');
    h[1] = 8;
    h.replace(2, 8, "song.mp3");
    h.replace(65, 8, "MPG3TVOD");
    h.replace(83, 4, be32(dataLength));
    h.replace(87, 4, be32(resourceLength));
    return h;
}

struct Survey {
    bool leading = false;
    bool trailing = false;
    TMP3Info info;
};

void survey(Survey& s, const std::string& file, bool seekable = true, std::int32_t capacity = 65536)
{
    TMPMemoryStream stream(file);
    TMPStreamReader reader(capacity);
    reader.Attach(&stream, seekable);
    s.info.SetReader(&reader);
    s.leading = s.info.ReadLeading();
    s.trailing = s.info.ReadTrailing();
    s.info.SetReader(nullptr);
}

std::string types(TMP3InfoType t)
{
    std::string s;
    const char* names[] = {"ID3V1", "ID3V2", "Riff", "MacBin", "Lyrics"};
    for (int k = 0; k < 5; ++k)
        if (t.Has(static_cast<TMP3InfoKind>(k)))
            s += std::string(s.empty() ? "" : ",") + names[k];
    return s;
}

const std::string utf16Title = bytes({0xFF, 0xFE, 0xC6, 0x30, 0xB9, 0x30, 0xC8, 0x30, 0, 0}); // "テスト"
const std::string titleCp932 = bytes({0x83, 0x65, 0x83, 0x58, 0x83, 0x67});

TEST(Mp3Info, Id3v2AndId3v1AroundTheAudio)
{
    const std::string tag = id3v2(3, 0,
                                  frame("TIT2", bytes({1}) + utf16Title) +
                                      frame("TPE1", bytes({1, 0xFE, 0xFF, 0x30, 0xC6, 0xD8, 0x3D, 0xDE, 0x00})) +
                                      frame("TALB", std::string("\0Album  \0junk", 13)) +
                                      frame("COMM", std::string("\0eng\0Nice one \0", 15)) +
                                      frame("WXXX", std::string("\0desc\0http://x.example/", 23)) +
                                      frame("TCON", std::string("\0(17)", 5)) + repeat('\0', 30));
    const std::string file = tag + audio() + id3v1("Title", 7, 17);
    Survey s;
    survey(s, file);
    EXPECT_TRUE(s.leading);
    EXPECT_TRUE(s.trailing);
    EXPECT_EQ(types(s.info.InfoTypes()), "ID3V1,ID3V2");
    EXPECT_EQ(s.info.AudioStart(), static_cast<std::int64_t>(tag.size()));
    EXPECT_EQ(s.info.AudioLength(), static_cast<std::int64_t>(file.size() - tag.size()))
        << "the ID3v1 record stays inside the audio range";
    const TMPStringList v2 = {"TIT2=" + titleCp932,
                              "TPE1=" + titleCp932.substr(0, 2) + "?", // big-endian, then a character CP932 lacks
                              "TALB=Album", "COMM=Nice one", "WXXX=http://x.example/", "TCON=(17)"};
    EXPECT_EQ(s.info.Id3v2List(), v2);
    const TMPStringList v1 = {"TITLE=Title", "ARTIST=Artist", "ALBUM=Album", "YEAR=2024", "COMMENT=comment",
                              "GENRE=" + std::string(GenreTable()[17]), "GENREIDX=17", "TRACK=7"};
    EXPECT_EQ(s.info.Id3v1List(), v1);
    EXPECT_EQ(s.info.Id3v1Position(), static_cast<std::int64_t>(file.size() - 128));
}

TEST(Mp3Info, Id3v2Variants)
{
    struct Case {
        const char* name;
        std::string tag;
        bool found;
        TMPStringList entries;
        std::int32_t capacity = 65536;
    };
    const std::string title = frame("TIT2", std::string("\0Song", 5));
    const std::string big = frame("APIC", std::string(3000, 'p'));
    const Case cases[] = {
        {"extended header", id3v2(3, 0x40, be32(6) + bytes({0, 0, 0, 0, 0, 0}) + title + repeat('\0', 10)), true,
         {"TIT2=Song"}},
        {"version 2.4 passed whole", id3v2(4, 0, title + title), true, {}},
        {"unsynchronised passed whole", id3v2(3, 0x80, title), true, {}},
        {"frame larger than the reader", id3v2(3, 0, big + title), true, {"TIT2=Song"}, 1024},
        {"frame larger than the reader, padding", id3v2(3, 0, title + big + repeat('\0', 20)), true, {"TIT2=Song"}, 1024},
        {"no padding", id3v2(3, 0, title), true, {"TIT2=Song"}},
        {"frame past the tag end", id3v2(3, 0, title).substr(0, 10 - 4) + syncsafe(12) + title.substr(0, 12), false,
         {"TIT2=S\xFF\xFB\x90"}}, // the value runs into the bytes after the tag
        {"five bytes left over", id3v2(3, 0, title + "ABCDE"), false, {"TIT2=Song"}},
        {"extended header larger than the tag", id3v2(3, 0x40, be32(100) + title), false, {}},
        {"size zero", "ID3" + bytes({3, 0, 0, 0, 0, 0, 0}), false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = c.tag + audio();
        Survey s;
        survey(s, file, true, c.capacity);
        EXPECT_EQ(s.info.InfoTypes().Has(mitID3V2), c.found);
        EXPECT_EQ(s.info.AudioStart(), c.found ? static_cast<std::int64_t>(c.tag.size()) : 0);
        EXPECT_EQ(s.info.Id3v2List(), c.entries);
    }
}

TEST(Mp3Info, RiffWaveHoldingMp3)
{
    const std::string data = audio(419); // odd: the chunk is padded
    const std::string info = chunk("LIST", "INFO" + chunk("INAM", std::string("Title \0", 7)) +
                                               chunk("ICMT", std::string("\0", 1)) + chunk("IART", "Artist"));
    const std::string file = riff(chunk("fmt ", std::string(30, '\1')) + chunk("fact", "abcd") + chunk("data", data) +
                                  chunk("LIST", "adtlxxxx") + info);
    Survey s;
    survey(s, file);
    EXPECT_EQ(types(s.info.InfoTypes()), "Riff");
    const std::int64_t dataStart = 12 + 38 + 12 + 8;
    EXPECT_EQ(s.info.AudioStart(), dataStart);
    EXPECT_EQ(s.info.AudioLength(), 419);
    EXPECT_EQ(s.info.RiffDataStart(), dataStart);
    EXPECT_EQ(s.info.RiffDataSize(), 419);
    EXPECT_EQ(s.info.RiffInfoList(), (TMPStringList{"INAM=Title", "IART=Artist"}));

    Survey unseekable;
    survey(unseekable, file, false);
    EXPECT_TRUE(unseekable.leading);
    EXPECT_FALSE(unseekable.trailing);
    EXPECT_EQ(unseekable.info.AudioLength(), 419) << "RIFF gives the length without seeking";
    EXPECT_TRUE(unseekable.info.RiffInfoList().empty());

    Survey noData;
    survey(noData, riff(chunk("fmt ", std::string(16, '\1'))) + audio());
    EXPECT_FALSE(noData.info.InfoTypes().Has(mitRiff));
}

TEST(Mp3Info, MacBinaryAroundTagsAndAudio)
{
    const std::string tag = id3v2(3, 0, frame("TIT2", std::string("\0Mac", 4)));
    const std::string dataFork = tag + audio() + id3v1("Mac title", 3, 13);
    const std::string file = macBinary(static_cast<std::uint32_t>(dataFork.size()), 50) + dataFork +
                             repeat('\0', 128 - dataFork.size() % 128) + repeat('r', 50);
    Survey s;
    survey(s, file);
    EXPECT_EQ(types(s.info.InfoTypes()), "ID3V1,ID3V2,MacBin");
    EXPECT_EQ(s.info.MacDataStart(), 128);
    EXPECT_EQ(s.info.MacDataEnd(), static_cast<std::int64_t>(128 + dataFork.size()));
    EXPECT_EQ(s.info.MacResourceLength(), 50);
    EXPECT_EQ(s.info.AudioStart(), static_cast<std::int64_t>(128 + tag.size()));
    EXPECT_EQ(s.info.AudioLength(), static_cast<std::int64_t>(dataFork.size() - tag.size()));
    EXPECT_EQ(s.info.Id3v1Position(), static_cast<std::int64_t>(128 + dataFork.size() - 128));
    EXPECT_EQ(s.info.Id3v1List().front(), "TITLE=Mac title");

    Survey unseekable;
    survey(unseekable, file, false);
    EXPECT_EQ(unseekable.info.AudioLength(), static_cast<std::int64_t>(dataFork.size() - tag.size()));
}

TEST(Mp3Info, Id3v1TrackOnlyWithZeroByte125)
{
    Survey with;
    survey(with, audio() + id3v1("t", 12, 200));
    EXPECT_EQ(with.info.Id3v1List().back(), "TRACK=12");
    EXPECT_EQ(with.info.Id3v1List()[5], "GENRE=" + std::string(GenreTable()[200]));

    Survey without;
    survey(without, audio() + id3v1("t", 12, 200, false));
    ASSERT_EQ(without.info.Id3v1List().size(), 7u);
    EXPECT_EQ(without.info.Id3v1List().back(), "GENREIDX=200");
    EXPECT_EQ(without.info.Id3v1List()[4], "COMMENT=" + std::string(28, 'c') + "xy") << "bytes 125 and 126 belong to the comment";
}

TEST(Mp3Info, Lyrics3)
{
    struct Case {
        const char* name;
        std::string file;
        bool found;
        TMPStringList entries;
        std::int64_t position;
    };
    const std::string a = audio();
    const std::int64_t at = static_cast<std::int64_t>(a.size());
    const std::string v2 = lyrics2({{"IND", "10"}, {"LYR", "la la\r\nla"}, {"EAL", "Album"}});
    const Case cases[] = {
        {"version 1 before ID3v1", a + lyrics1("words\r\nmore") + id3v1("x", 1, 1), true, {"LYRICS=words\r\nmore"}, at},
        {"version 1 at the end", a + lyrics1("end"), true, {"LYRICS=end"}, at},
        {"version 1 without its start", a + "words" + "LYRICSEND" + id3v1("x", 1, 1), false, {}, 0},
        {"version 2 before ID3v1", a + v2 + id3v1("x", 1, 1), true, {"IND=10", "LYR=la la\r\nla", "EAL=Album"}, at},
        {"version 2 at the end", a + v2, true, {"IND=10", "LYR=la la\r\nla", "EAL=Album"}, at},
        {"version 2 field past the block",
         a + "LYRICSBEGININD00009ab" + "000016LYRICS200", false, {}, 0},
        {"version 2 size larger than the file", a + "LYRICSBEGIN" + "999999LYRICS200", false, {}, 0},
        {"version 2 size not digits", a + "LYRICSBEGININD00001a" + "0000x9LYRICS200", false, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Survey s;
        survey(s, c.file);
        EXPECT_EQ(s.info.InfoTypes().Has(mitLyrics), c.found);
        EXPECT_EQ(s.info.LyricsList(), c.entries);
        if (c.found) {
            EXPECT_EQ(s.info.LyricsPosition(), c.position);
        }
    }
}

TEST(Mp3Info, UnseekableStreamGetsOnlyTheLeadingSurvey)
{
    const std::string tag = id3v2(3, 0, frame("TIT2", std::string("\0T", 2)));
    Survey s;
    survey(s, tag + audio() + id3v1("x", 1, 1), false);
    EXPECT_TRUE(s.leading);
    EXPECT_FALSE(s.trailing);
    EXPECT_EQ(types(s.info.InfoTypes()), "ID3V2");
    EXPECT_EQ(s.info.AudioStart(), static_cast<std::int64_t>(tag.size()));
    EXPECT_EQ(s.info.AudioLength(), TMP3Info::UnknownLength);
}

TEST(Mp3Info, ResetForgetsTheLastSurvey)
{
    Survey s;
    survey(s, id3v2(3, 0, frame("TIT2", std::string("\0T", 2))) + audio() + id3v1("x", 1, 1));
    TMPMemoryStream stream(audio());
    TMPStreamReader reader(4096);
    reader.Attach(&stream, true);
    s.info.SetReader(&reader);
    EXPECT_TRUE(s.info.InfoTypes().Empty());
    EXPECT_EQ(s.info.AudioLength(), TMP3Info::UnknownLength);
    EXPECT_TRUE(s.info.Id3v1List().empty());
    EXPECT_TRUE(s.info.Id3v2List().empty());
    EXPECT_EQ(s.info.NeedInfoType, (TMP3InfoType{mitID3V1, mitID3V2, mitRiff}));
}

TEST(Mp3Info, EveryTruncationIsSurveyedWithoutFault)
{
    const std::string tag = id3v2(3, 0x40, be32(6) + repeat('\0', 6) + frame("TIT2", bytes({1}) + utf16Title) +
                                              frame("COMM", std::string("\0eng\0c", 6)) + repeat('\0', 12));
    const std::string files[] = {
        tag + audio(40) + lyrics2({{"IND", "01"}, {"LYR", "x"}}) + id3v1("t", 1, 2),
        tag + audio(40) + lyrics1("words") + id3v1("t", 1, 2, false),
        riff(chunk("fmt ", std::string(16, '\1')) + chunk("data", tag + audio(41)) +
             chunk("LIST", "INFO" + chunk("INAM", "Name"))),
        macBinary(300, 20) + tag + audio(60) + id3v1("m", 1, 2) + repeat('r', 20),
        id3v2(4, 0, frame("TIT2", "\0x")) + audio(30),
    };
    for (const std::string& file : files) {
        for (std::size_t length = 0; length <= file.size(); ++length) {
            for (bool seekable : {true, false}) {
                for (std::int32_t capacity : {65536, 64}) {
                    SCOPED_TRACE(testing::Message() << "length " << length << " seekable " << seekable
                                                    << " capacity " << capacity);
                    Survey s;
                    ASSERT_NO_THROW(survey(s, file.substr(0, length), seekable, capacity));
                    ASSERT_GE(s.info.AudioStart(), 0);
                    ASSERT_LE(s.info.AudioStart(), static_cast<std::int64_t>(length));
                }
            }
        }
    }
}

} // namespace
