// What `read`, `write` and `set` share: their options, the text printed for
// a field, the field an argument stands for, and the write of one file.
#pragma once

#include "commands.h"

#include "id3/mp3id.h"

#include <array>
#include <optional>
#include <string>

namespace morvik::cli {

struct TagOptions {
    TTagView view = TTagView::ID3v1;
    bool keepDate = false;
    bool utf8 = false;
    std::size_t firstOperand = 0;
};

// Leading options up to the first operand (or after "--"); false, with a
// message, on one that is unknown or not allowed here.
bool parseTagOptions(const Args& args, bool allowKeepDate, TagOptions* out);

// A field as `read` prints it (before escaping): in --utf8 mode UTF-8 text;
// otherwise Shift-JIS bytes, the file's own bytes for encoding 0.
std::string shownField(const TMP3id& tag, id3::TTagFieldIndex index, bool utf8);

// Arguments for the seven fields, or nothing for a field left as it is.
using FieldArguments = std::array<std::optional<std::string>, id3::tfCount>;

// Reads the tag of the view, then writes it with the arguments given: an
// argument equal to what `read` prints for that field keeps the field as it
// was read; others are stored as bytes, or with --utf8 as Shift-JIS when
// it can hold them and otherwise (ID3v2 only) as UTF-16. Prints failures
// and dropped frames on standard error; returns the exit status.
int writeFields(const std::string& path, const TagOptions& options, const FieldArguments& arguments);

} // namespace morvik::cli
