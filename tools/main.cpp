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
    {"read", "read [--v1|--v2] FILE...\n"
             "    one line per file: path, has-tag, title, artist, album, year,\n"
             "    comment, track, genre, tag position (tab-separated, escaped)",
     morvik::cli::cmdRead},
    {"write", "write [--v1|--v2] [--keep-date] FILE TITLE ARTIST ALBUM YEAR COMMENT TRACK GENRE\n"
              "    writes the tag of the view (bytes as given)",
     morvik::cli::cmdWrite},
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
