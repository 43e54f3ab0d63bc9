// `set`: changes only the fields named, on many files in one process, with
// the writer `write` uses.
#include "commands.h"
#include "tagfields.h"

#include <cstdio>
#include <cstring>

namespace morvik::cli {
namespace {

constexpr const char* kFieldNames[id3::tfCount] = {"title", "artist", "album", "year", "comment", "track", "genre"};

int usage()
{
    std::fprintf(stderr, "usage: morvik-cli set [--v1|--v2] [--utf8] [--keep-date] FIELD=VALUE... -- FILE...\n"
                         "fields: title artist album year comment track genre\n");
    return 2;
}

// FIELD=VALUE into its slot; false for an unknown field.
bool takeAssignment(const std::string& assignment, FieldArguments* arguments)
{
    const std::size_t equals = assignment.find('=');
    if (equals == std::string::npos)
        return false;
    const std::string name = assignment.substr(0, equals);
    for (std::size_t i = 0; i < id3::tfCount; ++i) {
        if (name == kFieldNames[i]) {
            (*arguments)[i] = assignment.substr(equals + 1);
            return true;
        }
    }
    return false;
}

} // namespace

int cmdSet(const Args& args)
{
    TagOptions options;
    std::size_t i = 0;
    // Options come first; "--" there would end them, but here it ends the
    // assignments, so the options are read up to the first assignment.
    while (i < args.size() && args[i].rfind("--", 0) == 0 && args[i] != "--") {
        const Args one{args[i]};
        if (!parseTagOptions(one, true, &options))
            return 2;
        ++i;
    }
    FieldArguments arguments;
    for (; i < args.size() && args[i] != "--"; ++i) {
        if (!takeAssignment(args[i], &arguments)) {
            std::fprintf(stderr, "morvik-cli: not FIELD=VALUE with a known field: '%s'\n", args[i].c_str());
            return usage();
        }
    }
    if (i >= args.size() || i + 1 >= args.size())
        return usage();
    int status = 0;
    for (++i; i < args.size(); ++i) {
        if (writeFields(args[i], options, arguments) != 0)
            status = 1;
    }
    return status;
}

} // namespace morvik::cli
