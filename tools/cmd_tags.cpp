// `read` and `write`: the tag library driven exactly as the window drives it.
#include "commands.h"
#include "tagfields.h"

#include "id3/mp3id.h"
#include "platform/posixfile.h"
#include "platform/textcodec.h"

#include <cstdio>
#include <exception>

namespace morvik::cli {
namespace {

void printField(const std::string& text, bool utf8)
{
    std::fputc('\t', stdout);
    std::fputs(escapeBytes(text, utf8).c_str(), stdout);
}

// The field an argument that differs from what was read stands for.
std::optional<id3::TTagField> fieldOf(const std::string& argument, const TagOptions& options, std::string* bad)
{
    if (!options.utf8)
        return id3::TTagField{id3Latin, argument};
    const Cp932Encoding shiftJis = utf8ToCp932(argument);
    if (shiftJis.ok)
        return id3::TTagField{id3Latin, shiftJis.bytes};
    if (options.view == TTagView::ID3v2)
        return id3::TTagField{id3Utf16, utf8ToUtf16WithBom(argument)};
    *bad = shiftJis.badCharacter;
    return std::nullopt;
}

} // namespace

bool parseTagOptions(const Args& args, bool allowKeepDate, TagOptions* out)
{
    std::size_t i = 0;
    for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
        if (args[i] == "--v1")
            out->view = TTagView::ID3v1;
        else if (args[i] == "--v2")
            out->view = TTagView::ID3v2;
        else if (args[i] == "--utf8")
            out->utf8 = true;
        else if (allowKeepDate && args[i] == "--keep-date")
            out->keepDate = true;
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

std::string shownField(const TMP3id& tag, id3::TTagFieldIndex index, bool utf8)
{
    const id3::TTagField field = tag.Field(index);
    if (field.encoding == id3Latin)
        return utf8 ? id3TextToUtf8(id3Latin, field.bytes) : field.bytes;
    const std::string text = id3TextToUtf8(field.encoding, id3::firstString(field));
    return utf8 ? text : utf8ToCp932Lossy(text);
}

int writeFields(const std::string& path, const TagOptions& options, const FieldArguments& arguments)
{
    // A rewrite of this file cut short earlier is finished first, so the read
    // below sees the file as that write left it.
    try {
        if (TMP3id::FinishInterruptedWrite(path))
            std::fprintf(stderr, "morvik-cli: %s: finished an interrupted write of this file\n", path.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "morvik-cli: %s\n", e.what());
        return 1;
    }

    // Has-tag, tag position and the fields kept come from a read, as when
    // the folder is listed.
    TMP3id tag(options.view, options.keepDate);
    tag.Open(path, 2);
    if (!tag.IsOpen()) {
        std::fprintf(stderr, "morvik-cli: %s: cannot open for writing: %s\n", path.c_str(),
                     morvik::systemErrorText(tag.OpenError()).c_str());
        return 1;
    }
    const bool hasTag = tag.ReadTag();
    id3::TTagFields fields = tag.Fields();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const auto index = static_cast<id3::TTagFieldIndex>(i);
        if (!arguments[i] || *arguments[i] == shownField(tag, index, options.utf8))
            continue;
        std::string bad;
        const auto field = fieldOf(*arguments[i], options, &bad);
        if (!field) {
            std::fprintf(stderr, "morvik-cli: %s: Shift-JIS cannot hold the character \"%s\"\n", path.c_str(),
                         bad.c_str());
            return 1;
        }
        fields[i] = *field;
    }
    try {
        tag.WriteTag(hasTag, fields, tag.TagPosition());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "morvik-cli: %s\n", e.what());
        return 1;
    }
    for (const std::string& frame : tag.DroppedFrames())
        std::fprintf(stderr, "morvik-cli: %s: dropped frame %s\n", path.c_str(), frame.c_str());
    tag.Close();
    return 0;
}

std::string escapeBytes(const std::string& bytes, bool utf8)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default:
            if (c < 0x20 || (c >= 0x7F && !(utf8 && c >= 0x80))) {
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

int cmdRead(const Args& args)
{
    TagOptions options;
    if (!parseTagOptions(args, false, &options))
        return 2;
    if (options.firstOperand >= args.size()) {
        std::fprintf(stderr, "usage: morvik-cli read [--v1|--v2] [--utf8] FILE...\n");
        return 2;
    }
    for (std::size_t i = options.firstOperand; i < args.size(); ++i) {
        TMP3id tag(options.view, false);
        tag.Open(args[i], 0);
        const bool hasTag = tag.ReadTag();
        tag.Close();
        std::fputs(escapeBytes(args[i]).c_str(), stdout);
        std::fputs(hasTag ? "\t1" : "\t0", stdout);
        for (int field = 0; field < id3::tfCount; ++field)
            printField(shownField(tag, static_cast<id3::TTagFieldIndex>(field), options.utf8), options.utf8);
        std::printf("\t%lld\n", static_cast<long long>(tag.TagPosition()));
    }
    return 0;
}

int cmdWrite(const Args& args)
{
    TagOptions options;
    if (!parseTagOptions(args, true, &options))
        return 2;
    if (args.size() - options.firstOperand != 8) {
        std::fprintf(stderr, "usage: morvik-cli write [--v1|--v2] [--keep-date] [--utf8] FILE TITLE ARTIST "
                             "ALBUM YEAR COMMENT TRACK GENRE\n");
        return 2;
    }
    const auto* a = &args[options.firstOperand];
    FieldArguments arguments;
    for (std::size_t i = 0; i < arguments.size(); ++i)
        arguments[i] = a[1 + i];
    return writeFields(a[0], options, arguments);
}

} // namespace morvik::cli
