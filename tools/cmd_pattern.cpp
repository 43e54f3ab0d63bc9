// `pattern` and `title-from-name`: modes 3 and 1 of the window's special
// edit over files named on the command line, through the same functions,
// with the apply's rules for renames and tag writes.
#include "commands.h"

#include "app/renamerules.h"
#include "app/specialedit.h"
#include "id3/mp3id.h"
#include "platform/posixfile.h"
#include "platform/textcodec.h"

#include <cstdio>
#include <exception>
#include <limits>

namespace morvik::cli {
namespace {

struct Options {
    TTagView view = TTagView::ID3v1;
    bool apply = false;
    std::size_t firstOperand = 0;
};

bool parseOptions(const Args& args, Options* out)
{
    std::size_t i = 0;
    for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
        if (args[i] == "--v1")
            out->view = TTagView::ID3v1;
        else if (args[i] == "--v2")
            out->view = TTagView::ID3v2;
        else if (args[i] == "--apply")
            out->apply = true;
        else if (args[i] == "--") {
            ++i;
            break;
        } else {
            std::fprintf(stderr, "morvik-cli: unknown option '%s'\n", args[i].c_str());
            return false;
        }
    }
    out->firstOperand = i;
    return true;
}

// A file's tag as the folder load reads it: bytes, has-tag and position.
struct ReadTag {
    bool hasTag = false;
    std::int64_t position = 0;
    std::string title, artist, album, year, comment, track, genre;
};

ReadTag readTag(const std::string& path, TTagView view)
{
    TMP3id reader(view, false);
    reader.Open(path, 0);
    ReadTag tag;
    tag.hasTag = reader.ReadTag();
    reader.Close();
    tag.position = reader.TagPosition();
    tag.title = reader.Title();
    tag.artist = reader.Artist();
    tag.album = reader.Album();
    tag.year = reader.Year();
    tag.comment = reader.Comment();
    tag.track = reader.Track();
    tag.genre = reader.Genre();
    return tag;
}

void printPair(const std::string& path, const std::string& derived)
{
    std::printf("%s\t%s\n", escapeBytes(path).c_str(), escapeBytes(derived).c_str());
}

void fail(const std::string& path, const std::string& what)
{
    std::fprintf(stderr, "morvik-cli: %s: %s\n", escapeBytes(path).c_str(), what.c_str());
}

// Writes `title` (shown text) as the file's title, every other field as the
// bytes read, as the window's apply writes a row whose title cell changed.
// An error message, or empty.
std::string writeTitle(const std::string& path, TTagView view, const std::string& title)
{
    try {
        TMP3id::FinishInterruptedWrite(path);
        const ReadTag tag = readTag(path, view);
        if (cp932ToDisplayText(tag.title) == title)
            return {};
        const Cp932Encoding bytes = utf8ToCp932(title);
        if (!bytes.ok)
            return "title not written: Shift-JIS cannot hold the character '" + bytes.badCharacter + "'";
        TMP3id writer(view, false);
        writer.Open(path, 2);
        if (!writer.IsOpen())
            return "cannot open for writing: " + systemErrorText(writer.OpenError());
        writer.WriteTag(tag.hasTag, bytes.bytes, tag.artist, tag.album, tag.year, tag.comment, tag.track,
                        tag.genre, tag.position);
        writer.Close();
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

} // namespace

int cmdPattern(const Args& args)
{
    Options options;
    if (!parseOptions(args, &options))
        return 2;
    if (args.size() < options.firstOperand + 2) {
        std::fprintf(stderr, "usage: morvik-cli pattern [--v1|--v2] [--apply] PATTERN FILE...\n");
        return 2;
    }
    const std::size_t files = args.size() - options.firstOperand - 1;
    const auto span = static_cast<std::int32_t>(std::min<std::size_t>(files - 1, std::numeric_limits<std::int32_t>::max()));
    special::PatternNamer namer(args[options.firstOperand], span);
    int status = 0;
    for (std::size_t i = options.firstOperand + 1; i < args.size(); ++i) {
        const std::string& path = args[i];
        const ReadTag tag = readTag(path, options.view);
        const std::string name = namer.nameFor(
            {cp932ToDisplayText(tag.title), cp932ToDisplayText(tag.artist), cp932ToDisplayText(tag.album)});
        printPair(path, name);
        if (!options.apply)
            continue;
        // Only files are renamed: a folder or a device named by mistake is
        // left alone.
        if (!PosixFile::openRegular(path, PosixFile::Mode::ReadOnly).valid()) {
            fail(path, "not renamed: not a regular file");
            status = 1;
        } else if (const int error = names::renameInFolder(path, name)) {
            fail(path, "not renamed to '" + escapeBytes(name) + "': " + systemErrorText(error));
            status = 1;
        }
    }
    return status;
}

int cmdTitleFromName(const Args& args)
{
    Options options;
    if (!parseOptions(args, &options))
        return 2;
    if (options.firstOperand >= args.size()) {
        std::fprintf(stderr, "usage: morvik-cli title-from-name [--v1|--v2] [--apply] FILE...\n");
        return 2;
    }
    int status = 0;
    for (std::size_t i = options.firstOperand; i < args.size(); ++i) {
        const std::string& path = args[i];
        const std::string title = special::titleFromFileName(names::baseName(path));
        printPair(path, title);
        if (!options.apply)
            continue;
        if (const std::string error = writeTitle(path, options.view, title); !error.empty()) {
            fail(path, error);
            status = 1;
        }
    }
    return status;
}

} // namespace morvik::cli
