// `frames`: every frame of a file's ID3v2 tag, so a user can see what it
// holds beyond the fields the grid shows.
#include "commands.h"

#include "id3/id3v2tag.h"
#include "platform/posixfile.h"
#include "platform/textcodec.h"

#include <cstdio>
#include <string>

namespace morvik::cli {
namespace {

// Each string of `body` from `at` as UTF-8, joined by 0x00 (printed as
// \x00).
std::string stringsFrom(const std::string& body, std::size_t at, unsigned char encoding)
{
    std::string out;
    for (bool first = true; at < body.size(); first = false) {
        std::size_t next = 0;
        const std::string s = id3::stringAt(body, at, encoding, &next);
        if (!first)
            out += '\0';
        out += id3TextToUtf8(encoding, s);
        at = next;
    }
    return out;
}

// The encoding and text columns of a text frame (T..., COMM, USLT); empty
// for other frames.
std::string textColumns(const std::string& id, const std::string& body)
{
    const bool text = id[0] == 'T';
    const bool withLanguage = id == "COMM" || id == "USLT" || id == "COM" || id == "ULT";
    if ((!text && !withLanguage) || body.empty())
        return {};
    const auto encoding = static_cast<unsigned char>(body[0]);
    std::string columns = "\t" + std::to_string(encoding) + "\t";
    if (text)
        return columns + escapeBytes(stringsFrom(body, 1, encoding), true);
    if (body.size() < 4)
        return columns;
    return columns + escapeBytes(body.substr(1, 3)) + "\t" + escapeBytes(stringsFrom(body, 4, encoding), true);
}

} // namespace

int cmdFrames(const Args& args)
{
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: morvik-cli frames FILE\n");
        return 2;
    }
    PosixFile file = PosixFile::openRegular(args[0], PosixFile::Mode::ReadOnly);
    if (!file.valid()) {
        std::fprintf(stderr, "morvik-cli: %s: %s\n", args[0].c_str(), systemErrorText(file.lastError()).c_str());
        return 1;
    }
    id3::FileByteSource source(file);
    const auto tag = id3::Id3v2Tag::read(source, file.size());
    if (!tag) {
        std::printf("no ID3v2 tag\n");
        return 0;
    }
    std::printf("ID3v2.%d.%d\tflags %02x\tsize %lld\n", tag->version(), tag->revision(), tag->flags(),
                static_cast<long long>(tag->declaredEnd() - 10));
    for (const id3::Id3v2Frame& frame : tag->frames()) {
        std::printf("%s\t%u\t%04x", escapeBytes(frame.id).c_str(), frame.size, frame.flags);
        if (const auto body = tag->plainBody(frame))
            std::fputs(textColumns(frame.id, *body).c_str(), stdout);
        std::fputc('\n', stdout);
    }
    if (tag->damagedAt() >= 0)
        std::printf("damaged at byte %lld\n", static_cast<long long>(tag->damagedAt()));
    return 0;
}

} // namespace morvik::cli
