// ID3v2 tags as real peers write and read them (mutagen on /usr/bin/python3,
// ffmpeg, ffprobe), driven through morvik-cli: texts of every encoding read
// as their text, and nothing the grid does not show lost on a write.
#include "id3testsupport.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

using namespace testsupport;
using namespace id3testsupport;

namespace {

// Made with mutagen: a tag of version 2.3 or 2.4 with a picture, lyrics, a
// user text, a private frame, an iTunNORM comment and a comment of our own;
// `dump` prints what mutagen reads, one frame per line, stable across
// encodings and versions.
const char kPeerScript[] = R"PY(
import hashlib, sys
from mutagen.id3 import ID3, APIC, COMM, PRIV, TALB, TCON, TIT2, TPE1, TRCK, TXXX, USLT, Encoding

def make(path, version, padding, title):
    enc = 1 if version == 3 else 3
    t = ID3()
    t.add(APIC(encoding=enc, mime="image/png", type=3, desc="表紙", data=bytes(range(256)) * 12))
    t.add(TIT2(encoding=enc, text=title))
    t.add(TPE1(encoding=enc, text="歌手"))
    t.add(TALB(encoding=0, text="Album"))
    t.add(TRCK(encoding=enc, text="3"))
    t.add(TCON(encoding=enc, text="Jazz"))
    t.add(COMM(encoding=enc, lang="eng", desc="iTunNORM", text=" 0000A 0000B"))
    t.add(COMM(encoding=enc, lang="eng", desc="", text="メモ"))
    t.add(USLT(encoding=enc, lang="jpn", desc="", text="歌詞\nつぎ"))
    t.add(TXXX(encoding=enc, desc="MusicBrainz Album Id", text="0f-12"))
    t.add(PRIV(owner="WM/MediaClassPrimaryID", data=b"\x01\x02\xff\x00"))
    t.save(path, v2_version=version, padding=lambda info: padding)

def dump(path):
    t = ID3(path)
    for key in sorted(t.keys()):
        f = t[key]
        if f.FrameID == "APIC":
            value = "%s %d %s %s" % (f.mime, f.type, f.desc, hashlib.sha1(f.data).hexdigest())
        elif f.FrameID == "PRIV":
            value = f.owner + " " + f.data.hex()
        elif f.FrameID in ("COMM", "USLT"):
            value = "%s|%s|%s" % (f.lang, f.desc, f.text if isinstance(f.text, str) else "/".join(f.text))
        elif hasattr(f, "text"):
            value = "/".join(str(x) for x in f.text)
        else:
            value = repr(f)
        print(key + "=" + value)

def title(path):
    f = ID3(path)["TIT2"]
    print("%s %d" % (f.text[0], f.encoding))

if sys.argv[1] == "make":
    make(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5])
elif sys.argv[1] == "dump":
    dump(sys.argv[2])
else:
    title(sys.argv[2])
)PY";

const std::string kTitle = "日本語 한국어 🎵";

// The bytes of a field `read` printed with its escapes.
std::string unescaped(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        if (c == 'x' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
        }
    }
    return out;
}

class PeerTags : public ::testing::Test {
protected:
    void SetUp() override { writeFile(script, kPeerScript); }

    std::string peer(const std::string& args) const
    {
        const CommandResult r = run("/usr/bin/python3 " + shellQuote(script) + " " + args);
        EXPECT_EQ(r.status, 0) << args;
        return r.output;
    }

    std::string mp3(const std::string& name) const
    {
        const std::string path = dir.file(name);
        writeFile(path, toneMp3());
        return path;
    }

    // The frames as mutagen reads them, one line each.
    std::set<std::string> frameView(const std::string& path) const
    {
        std::istringstream in(peer("dump " + shellQuote(path)));
        std::set<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.insert(line);
        return lines;
    }

    // Every frame of `before` is read the same from the file, but the track,
    // which the write changes.
    void expectKept(const std::set<std::string>& before, const std::string& path) const
    {
        const std::set<std::string> after = frameView(path);
        for (const std::string& line : before) {
            if (line.rfind("TRCK=", 0) != 0) {
                EXPECT_TRUE(after.count(line)) << "lost: " << line;
            }
        }
    }

    // The fields `read` prints for the file, tab-separated.
    std::vector<std::string> readFields(const std::string& options, const std::string& path) const
    {
        const CommandResult r = run(shellQuote(cliPath()) + " read " + options + " " + shellQuote(path));
        std::vector<std::string> fields;
        std::istringstream in(r.output.substr(0, r.output.find('\n')));
        std::string field;
        while (std::getline(in, field, '\t'))
            fields.push_back(field);
        return fields;
    }

    CommandResult cli(const std::string& args) const { return run(shellQuote(cliPath()) + " " + args); }

    TempDir dir;
    std::string script = dir.file("peer.py");
};

// A version 2.4 tag written byte by byte with the picture first: UTF-8 texts,
// a compressed frame version 2.3 cannot carry.
std::string v24Tag()
{
    const std::string picture = "\x03image/jpeg" + s("\0\x03", 2) + "\xE7\x94\xBB" + s("\0", 1) + std::string(3000, '\xAB');
    return tag(4, frame24("APIC", picture) + frame24("TIT2", "\x03" + kTitle) + frame24("TRCK", s("\x03" "3", 2)) +
                      frame24("COMM", s("\x03" "engiTunNORM\0 0A", 16)) + frame24("COMM", s("\x03" "eng\0Mine", 9)) + frame24("USLT", s("\x03" "jpn\0la la", 10)) +
                      frame24("TXXX", s("\x03" "Key\0Value", 10)) + frame24("PRIV", s("own\0\x01\x02", 6)) +
                      frame24("TCOM", syncsafe(9) + "zlibdata", 0x0009),
               100);
}

// A version 2.2 tag with a picture first, UTF-16 text and a comment.
std::string v22Tag()
{
    return tag(2, frame22("PIC", s("\0PNG\x03\0", 6) + std::string(3000, '\xCD')) +
                      frame22("TT2", "\x01\xFF\xFE" + s("\xE5\x65\x2C\x67", 4)) + frame22("TRK", s("\0" "3", 2)) +
                      frame22("COM", s("\0engiTunNORM\0 0A", 16)) + frame22("COM", s("\0eng\0Mine", 9)) + frame22("ULT", s("\0eng\0la la", 10)) +
                      frame22("TXX", s("\0Key\0Value", 10)),
               100);
}

TEST_F(PeerTags, TextsOfEveryEncodingReadAsTheirText)
{
    struct Case {
        const char* name;
        std::string make;
        std::string title;
    };
    const Case cases[] = {
        {"mutagen 2.3 (UTF-16)", "mutagen 3", kTitle},
        {"mutagen 2.4 (UTF-8)", "mutagen 4", kTitle},
        {"ffmpeg 2.3", "ffmpeg 3", kTitle},
        {"ffmpeg 2.4", "ffmpeg 4", kTitle},
        {"byte-built 2.2", "2.2", "日本"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = mp3("a.mp3");
        if (c.make.rfind("mutagen", 0) == 0) {
            peer("make " + shellQuote(path) + " " + c.make.substr(8) + " 1024 " + shellQuote(kTitle));
        } else if (c.make.rfind("ffmpeg", 0) == 0) {
            const std::string out = dir.file("b.mp3");
            ASSERT_EQ(run("ffmpeg -nostdin -loglevel error -y -i " + shellQuote(path) + " -c copy -id3v2_version " +
                          c.make.substr(7) + " -metadata title=" + shellQuote(kTitle) + " -metadata track=3 " +
                          shellQuote(out) + " && mv " + shellQuote(out) + " " + shellQuote(path)).status, 0);
        } else {
            writeFile(path, v22Tag() + toneMp3());
        }
        const auto fields = readFields("--v2 --utf8", path);
        ASSERT_GE(fields.size(), 9u);
        EXPECT_EQ(fields[2], c.title);
        EXPECT_EQ(fields[7], "3");
    }
}

// Changing only the track keeps every other frame as mutagen reads it, on
// the rewrite path (2.2 and 2.4 always, 2.3 without room) and the in-place
// path (2.3 with room, and every tag's second write).
TEST_F(PeerTags, WritingTheTrackKeepsEveryFrameTheGridDoesNotShow)
{
    struct Case {
        const char* name;
        std::string make; // "2.3 PADDING", "2.4", "2.2"
        bool firstInPlace;
    };
    const Case cases[] = {
        {"2.3 with room, in place", "2.3 1024", true},
        {"2.3 without room, rewrite", "2.3 0", false},
        {"2.4 byte-built, rewrite", "2.4", false},
        {"2.2 byte-built, rewrite", "2.2", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = mp3("a.mp3");
        const std::string audio = readFile(path);
        if (c.make == "2.4")
            writeFile(path, v24Tag() + audio);
        else if (c.make == "2.2")
            writeFile(path, v22Tag() + audio);
        else
            peer("make " + shellQuote(path) + " 3 " + c.make.substr(4) + " " + shellQuote(kTitle));
        const std::set<std::string> before = frameView(path);
        const auto size = readFile(path).size();

        for (const char* track : {"7", "8"}) {
            const CommandResult r = run(shellQuote(cliPath()) + " set --v2 track=" + track + " -- " + shellQuote(path) + " 2>&1");
            EXPECT_EQ(r.status, 0) << r.output;
            expectKept(before, path);
            EXPECT_NE(peer("dump " + shellQuote(path)).find(std::string("TRCK=") + track + "\n"), std::string::npos);
            const std::string data = readFile(path);
            EXPECT_EQ(data.substr(data.size() - audio.size()), audio);
            if (c.firstInPlace) {
                EXPECT_EQ(data.size(), size);
            }
            if (c.make == "2.4" && track[0] == '7') {
                EXPECT_NE(r.output.find("dropped frame TCOM"), std::string::npos) << r.output;
            }
        }
    }
}

// A title typed with characters Shift-JIS lacks is stored as UTF-16, which
// mutagen and ffprobe read; the ID3v1 view refuses it and writes nothing.
TEST_F(PeerTags, TextShiftJisCannotHoldIsStoredAsUtf16)
{
    const std::string path = mp3("a.mp3");
    ASSERT_EQ(cli("write --v2 --utf8 " + shellQuote(path) + " " + shellQuote(kTitle) + " 歌手 Album 2024 '' 5 Pop").status, 0);
    EXPECT_EQ(peer("title " + shellQuote(path)), kTitle + " 1\n");
    const CommandResult probe = run("ffprobe -loglevel error -show_entries format_tags=title,artist -of default=nw=1 " +
                                    shellQuote(path));
    EXPECT_NE(probe.output.find("TAG:title=" + kTitle + "\n"), std::string::npos) << probe.output;
    EXPECT_NE(readFile(path).find("\x89\xcc\x8e\xe8"), std::string::npos) << "歌手 is stored as Shift-JIS";

    const std::string before = readFile(path);
    EXPECT_EQ(cli("write --v1 --utf8 " + shellQuote(path) + " " + shellQuote(kTitle) + " a b 2024 c 5 Pop 2>/dev/null").status, 1);
    EXPECT_EQ(readFile(path), before);
}

// What `read` prints, given back to `write`, changes nothing; in every mode.
TEST_F(PeerTags, ReadThenWriteTheSameValuesChangesNothing)
{
    for (const std::string mode : {"--v2 --utf8", "--v2", "--v1 --utf8", "--v1"}) {
        SCOPED_TRACE(mode);
        const std::string path = mp3("a.mp3");
        peer("make " + shellQuote(path) + " 3 1024 " + shellQuote(kTitle));
        ASSERT_EQ(cli("write " + mode + " " + shellQuote(path) + " " + shellQuote("ｶﾀｶﾅ") + " a b 1999 c 5 Pop").status, 0);
        ASSERT_EQ(cli("set --v2 --utf8 " + shellQuote("title=" + kTitle) + " -- " + shellQuote(path)).status, 0);
        const std::string before = readFile(path);
        const auto fields = readFields(mode, path);
        ASSERT_GE(fields.size(), 9u);
        std::string args;
        for (std::size_t i = 2; i < 9; ++i)
            args += " " + shellQuote(unescaped(fields[i]));
        ASSERT_EQ(cli("write " + mode + " " + shellQuote(path) + args).status, 0);
        EXPECT_EQ(readFile(path), before);
    }
}

// `set` changes the fields named on every file, and goes on past a file it
// cannot write; `frames` lists what a file holds.
TEST_F(PeerTags, SetOnManyFilesAndFramesListing)
{
    const std::string a = mp3("a.mp3");
    const std::string b = mp3("b.mp3");
    peer("make " + shellQuote(a) + " 3 1024 " + shellQuote(kTitle));
    peer("make " + shellQuote(b) + " 4 0 Second");
    const CommandResult r = cli("set --v2 --utf8 album=新しい comment=x -- " + shellQuote(a) + " " +
                                shellQuote(dir.file("missing.mp3")) + " " + shellQuote(b) + " 2>/dev/null");
    EXPECT_EQ(r.status, 1);
    for (const auto& [path, title] : {std::pair{a, kTitle}, std::pair{b, std::string("Second")}}) {
        const auto fields = readFields("--v2 --utf8", path);
        ASSERT_GE(fields.size(), 9u);
        EXPECT_EQ(fields[2], title);
        EXPECT_EQ(fields[3], "歌手");
        EXPECT_EQ(fields[4], "新しい");
        EXPECT_EQ(fields[6], "x");
        EXPECT_EQ(fields[8], "Jazz");
    }
    EXPECT_EQ(cli("set --v2 nofield=1 -- " + shellQuote(a) + " 2>/dev/null").status, 2);

    const std::string listing = cli("frames " + shellQuote(a)).output;
    EXPECT_EQ(listing.rfind("ID3v2.3.0\t", 0), 0u) << listing;
    EXPECT_NE(listing.find("TIT2\t"), std::string::npos) << listing;
    EXPECT_NE(listing.find("\t1\t" + kTitle + "\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("\nAPIC\t"), std::string::npos) << listing;
    EXPECT_NE(listing.find("\nCOMM\t"), std::string::npos) << listing;
    EXPECT_NE(listing.find("eng\tiTunNORM\\x00 0000A 0000B"), std::string::npos) << listing;
}

} // namespace
