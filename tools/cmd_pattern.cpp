// `pattern` and `title-from-name`: modes 3 and 1 of the window's special
// edit over files named on the command line, through the same functions,
// with the apply's rules for renames and tag writes.
#include "commands.h"
#include "tagfields.h"

#include "app/renamerules.h"
#include "app/specialedit.h"
#include "id3/mp3id.h"
#include "platform/posixfile.h"
#include "platform/textcodec.h"

#include <cstdio>
#include <limits>

namespace morvik::cli {
namespace {

struct Options {
    TagOptions tag;
    bool apply = false;
    Args operands;
};

// `--apply` is ours; the other options are those of `read` (and, where a
// tag is written, `--keep-date`).
bool parseOptions(const Args& args, bool allowKeepDate, Options* out)
{
    Args rest;
    std::size_t i = 0;
    for (; i < args.size() && args[i].rfind("--", 0) == 0 && args[i] != "--"; ++i) {
        if (args[i] == "--apply")
            out->apply = true;
        else
            rest.push_back(args[i]);
    }
    rest.insert(rest.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
    if (!parseTagOptions(rest, allowKeepDate, &out->tag))
        return false;
    out->operands.assign(rest.begin() + static_cast<std::ptrdiff_t>(out->tag.firstOperand), rest.end());
    return true;
}

// The tag of the view as the folder load reads it.
struct ReadTag {
    bool hasTag = false;
    special::PatternFields shown; // as the grid shows them
};

ReadTag readTag(const std::string& path, TTagView view)
{
    TMP3id reader(view, false);
    reader.Open(path, 0);
    ReadTag tag;
    tag.hasTag = reader.ReadTag();
    reader.Close();
    tag.shown = {shownField(reader, id3::tfTitle, true), shownField(reader, id3::tfArtist, true),
                 shownField(reader, id3::tfAlbum, true)};
    return tag;
}

void printPair(const std::string& path, const std::string& derived, bool utf8)
{
    std::printf("%s\t%s\n", escapeBytes(path, utf8).c_str(), escapeBytes(derived, utf8).c_str());
}

void fail(const std::string& path, const std::string& what)
{
    std::fprintf(stderr, "morvik-cli: %s: %s\n", escapeBytes(path).c_str(), what.c_str());
}

} // namespace

int cmdPattern(const Args& args)
{
    Options options;
    if (!parseOptions(args, false, &options))
        return 2;
    if (options.operands.size() < 2) {
        std::fprintf(stderr, "usage: morvik-cli pattern [--v1|--v2] [--utf8] [--apply] PATTERN FILE...\n");
        return 2;
    }
    const std::size_t files = options.operands.size() - 1;
    const auto span = static_cast<std::int32_t>(std::min<std::size_t>(files - 1, std::numeric_limits<std::int32_t>::max()));
    special::PatternNamer namer(options.operands.front(), span);
    int status = 0;
    for (std::size_t i = 1; i < options.operands.size(); ++i) {
        const std::string& path = options.operands[i];
        const std::string name = namer.nameFor(readTag(path, options.tag.view).shown);
        printPair(path, name, options.tag.utf8);
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
    if (!parseOptions(args, true, &options))
        return 2;
    if (options.operands.empty()) {
        std::fprintf(stderr, "usage: morvik-cli title-from-name [--v1|--v2] [--utf8] [--keep-date] [--apply] FILE...\n");
        return 2;
    }
    // The derived titles are text: they are written as the window writes a
    // typed cell.
    TagOptions asText = options.tag;
    asText.utf8 = true;
    int status = 0;
    for (const std::string& path : options.operands) {
        const std::string title = special::titleFromFileName(names::baseName(path));
        printPair(path, options.tag.utf8 ? title : utf8ToCp932Lossy(title), options.tag.utf8);
        // A title that reads as it is already leaves the file untouched, as
        // an unchanged row does in the window.
        if (!options.apply || readTag(path, options.tag.view).shown.title == title)
            continue;
        FieldArguments fields;
        fields[id3::tfTitle] = title;
        if (writeFields(path, asText, fields) != 0)
            status = 1;
    }
    return status;
}

} // namespace morvik::cli
