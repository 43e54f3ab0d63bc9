// `read` and `write`: the tag library driven exactly as the window drives it.
#include "commands.h"

#include "id3/mp3id.h"
#include "platform/posixfile.h"

#include <cstdio>
#include <exception>

namespace morvik::cli {
namespace {

struct ViewOptions {
    TTagView view = TTagView::ID3v1;
    bool keepDate = false;
    std::size_t firstOperand = 0;
};

// Leading options; returns false on an unknown one.
bool parseOptions(const Args& args, bool allowKeepDate, ViewOptions* out)
{
    std::size_t i = 0;
    for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
        if (args[i] == "--v1")
            out->view = TTagView::ID3v1;
        else if (args[i] == "--v2")
            out->view = TTagView::ID3v2;
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

void printField(const std::string& text)
{
    std::fputc('\t', stdout);
    std::fputs(escapeBytes(text).c_str(), stdout);
}

} // namespace

std::string escapeBytes(const std::string& bytes)
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
            if (c < 0x20 || c >= 0x7F) {
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
    ViewOptions options;
    if (!parseOptions(args, false, &options))
        return 2;
    if (options.firstOperand >= args.size()) {
        std::fprintf(stderr, "usage: morvik-cli read [--v1|--v2] FILE...\n");
        return 2;
    }
    for (std::size_t i = options.firstOperand; i < args.size(); ++i) {
        TMP3id tag(options.view, false);
        tag.Open(args[i], 0);
        const bool hasTag = tag.ReadTag();
        tag.Close();
        std::fputs(escapeBytes(args[i]).c_str(), stdout);
        std::fputs(hasTag ? "\t1" : "\t0", stdout);
        for (const std::string& field : {tag.Title(), tag.Artist(), tag.Album(), tag.Year(),
                                         tag.Comment(), tag.Track(), tag.Genre()})
            printField(field);
        std::printf("\t%lld\n", static_cast<long long>(tag.TagPosition()));
    }
    return 0;
}

int cmdWrite(const Args& args)
{
    ViewOptions options;
    if (!parseOptions(args, true, &options))
        return 2;
    if (args.size() - options.firstOperand != 8) {
        std::fprintf(stderr, "usage: morvik-cli write [--v1|--v2] [--keep-date] FILE TITLE ARTIST "
                             "ALBUM YEAR COMMENT TRACK GENRE\n");
        return 2;
    }
    const auto* a = &args[options.firstOperand];
    const std::string& path = a[0];

    // A rewrite of this file cut short earlier is finished first, so the read
    // below sees the file as that write left it.
    try {
        if (TMP3id::FinishInterruptedWrite(path))
            std::fprintf(stderr, "morvik-cli: %s: finished an interrupted write of this file\n", path.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "morvik-cli: %s\n", e.what());
        return 1;
    }

    // Has-tag and tag position come from a read, as when the folder is listed.
    TMP3id reader(options.view, false);
    reader.Open(path, 0);
    const bool hasTag = reader.ReadTag();
    reader.Close();

    TMP3id writer(options.view, options.keepDate);
    writer.Open(path, 2);
    if (!writer.IsOpen()) {
        std::fprintf(stderr, "morvik-cli: %s: cannot open for writing: %s\n", path.c_str(),
                     morvik::systemErrorText(writer.OpenError()).c_str());
        return 1;
    }
    try {
        writer.WriteTag(hasTag, a[1], a[2], a[3], a[4], a[5], a[6], a[7], reader.TagPosition());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "morvik-cli: %s\n", e.what());
        return 1;
    }
    writer.Close();
    return 0;
}

} // namespace morvik::cli
