// The ID3v2.3 tag the writer builds: the eight frames of the grid's fields,
// then every other frame of the old tag in the version 2.3 layout.
#pragma once

#include "id3/id3v2tag.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace morvik::id3 {

// A field as version 2.3 can hold it: UTF-8 and UTF-16BE texts (encodings
// 3 and 2, version 2.4 only) become UTF-16 with a byte-order mark.
TTagField forVersion3(const TTagField& field);

// The eight frames (TPE1, TIT2, TALB, TRCK, COMM, TCON, TYER, TSSE) for
// these fields, without the tag header. Encoding-0 fields give exactly the
// frames of the plain-byte writer.
std::string buildFrames(const TTagFields& fields);

// The frames of `tag` that the eight do not replace, in the version 2.3
// layout, each whole. Version 2.3 frames are kept byte for byte; 2.2 and
// 2.4 frames are converted (identifiers, sizes, flags, UTF-8 text to UTF-16,
// per-frame unsynchronisation undone, TDRC as TDAT/TIME). A frame that
// cannot be carried (compressed or encrypted 2.4 frames, 2.2 frames without
// a 2.3 identifier, empty or cut-off frames, frames whose flags ask to be
// discarded, frames past `keepBefore` in the file) is left out and named in
// `dropped`, as is damaged data that ended the walk.
std::string keptFrames(const Id3v2Tag& tag, const std::array<int, tfCount>& taken, std::int64_t keepBefore,
                       std::vector<std::string>* dropped);

} // namespace morvik::id3
