#include "commands.h"

#include "platform/signals.h"

#include <cstdio>
#include <cstring>

namespace {

struct Command {
    const char* name;
    const char* usage;
    int (*run)(const morvik::cli::Args&);
};

const Command kCommands[] = {
    {"read", "read [--v1|--v2] [--utf8] FILE...\n"
             "    one line per file: path, has-tag, title, artist, album, year,\n"
             "    comment, track, genre, tag position (tab-separated, escaped);\n"
             "    texts as Shift-JIS bytes, or with --utf8 as UTF-8",
     morvik::cli::cmdRead},
    {"write", "write [--v1|--v2] [--keep-date] [--utf8] FILE TITLE ARTIST ALBUM YEAR COMMENT TRACK GENRE\n"
              "    writes the tag of the view (bytes as given; with --utf8 UTF-8 text, stored as\n"
              "    Shift-JIS, or as UTF-16 in ID3v2 when Shift-JIS cannot hold it); a text equal\n"
              "    to what read prints keeps the field as it was",
     morvik::cli::cmdWrite},
    {"set", "set [--v1|--v2] [--utf8] [--keep-date] FIELD=VALUE... -- FILE...\n"
            "    changes only the fields named (title artist album year comment track genre)\n"
            "    in every file, as write does",
     morvik::cli::cmdSet},
    {"frames", "frames FILE\n"
               "    every frame of the ID3v2 tag: identifier, size, flags (hex); for text frames\n"
               "    the encoding and the text as UTF-8 (COMM and USLT: language, then the\n"
               "    description and the text separated by \\x00)",
     morvik::cli::cmdFrames},
    {"decode", "decode [--cpu auto|none|reference] [--cpu-features WORD] IN OUT\n"
               "    raw signed 16-bit little-endian PCM of the whole file (OUT - for standard output)",
     morvik::cli::cmdDecode},
    {"info", "info FILE\n"
             "    what the player finds on opening the file, as key=value lines, then one\n"
             "    line per tag entry: list name, tab, entry (escaped)",
     morvik::cli::cmdInfo},
    {"render", "render [--cpu auto|none|reference] [--cpu-features WORD] IN OUT.wav\n"
               "    plays the file through the player into a WAVE file",
     morvik::cli::cmdRender},
    {"play", "play [--cpu auto|none|reference] [--cpu-features WORD] FILE...\n"
             "    plays the files one after another on the sound device ($MORVIK_ALSA_DEVICE,\n"
             "    else \"default\"), printing status and position; Ctrl+C stops (exit 130)\n"
             "    --cpu: the decoder's routines for all processor capabilities (auto), for\n"
             "    none, or the reference routines; --cpu-features: a feature word (hex)\n"
             "    in place of the detected one",
     morvik::cli::cmdPlay},
    {"pattern", "pattern [--v1|--v2] [--utf8] [--apply] PATTERN FILE...\n"
                "    the file name the special edit's pattern gives each file (%N serial number\n"
                "    over the files given, %T title, %A artist, %M album): old name, tab, new\n"
                "    name; --apply renames, never replacing a file, and names those it could not",
     morvik::cli::cmdPattern},
    {"title-from-name", "title-from-name [--v1|--v2] [--utf8] [--keep-date] [--apply] FILE...\n"
                        "    the title each file's name gives (the part before \".mp3\"): name, tab,\n"
                        "    title; --apply writes the titles as write --utf8 does, keeping every other field",
     morvik::cli::cmdTitleFromName},
};

void printHelp(std::FILE* out)
{
    std::fprintf(out, "usage: morvik-cli COMMAND [ARGS]\n\ncommands:\n");
    for (const Command& c : kCommands)
        std::fprintf(out, "  %s\n", c.usage);
}

} // namespace

int main(int argc, char** argv)
{
    morvik::ignoreFileSizeSignal();
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        printHelp(stdout);
        return argc < 2 ? 2 : 0;
    }
    for (const Command& c : kCommands) {
        if (std::strcmp(argv[1], c.name) == 0)
            return c.run(morvik::cli::Args(argv + 2, argv + argc));
    }
    std::fprintf(stderr, "morvik-cli: unknown command '%s'\n", argv[1]);
    printHelp(stderr);
    return 2;
}
