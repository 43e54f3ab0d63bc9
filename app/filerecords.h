// The records of the loaded files that the grid rows belong to, and the
// reading of one file into its record. Tag texts keep the bytes the file
// holds beside the text shown for them.
#pragma once

#include "id3/mp3id.h"

#include <QString>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

// One tag text of a file: the bytes the file holds with their ID3v2
// encoding byte (0 in the ID3v1 view), and the text shown for them. A cell
// still showing `text` is written back as exactly `field`.
struct TTagText {
    std::string bytes;
    QString text;
    unsigned char encoding = 0;
    morvik::id3::TTagField field() const { return {encoding, bytes}; }
};

// Grid columns 1 to 7, in this order.
enum TTagColumn { tcTitle, tcArtist, tcAlbum, tcYear, tcComment, tcTrack, tcGenre, tcCount };

// One loaded MP3 file (record i belongs to grid row i + 1).
struct TFileList {
    std::uint8_t HasTag = 0;
    morvik::TTagView View = morvik::TTagView::ID3v1; // the view the texts were read in
    std::string Path; // folder + "/" + name, the file system's bytes
    std::array<TTagText, tcCount> Texts; // as last read from or written to the file
    std::int64_t TagPosition = 0;  // 64-bit: files over 4 GiB keep their true record offset
};

using TRowTexts = std::array<QString, tcCount>;
using TRowBytes = std::array<morvik::id3::TTagField, tcCount>;

struct TFileListL {
    std::int32_t Count = 0;
    std::vector<TFileList> Items;
};

struct Tplay {
    QString Path;
    std::int32_t Index = 0;
};

namespace morvik {

// UTF-8 bytes and Qt's text, both ways. Bytes that are not UTF-8 show as
// U+FFFD, so such a text does not convert back to the same bytes.
QString utf8Text(const std::string& utf8);
std::string utf8Bytes(const QString& text);

// The text a file name shows as in the grid. Names are the file system's
// bytes: UTF-8, or CP932 on files copied from old Windows volumes; bytes
// that are neither show with U+FFFD.
QString shownFileName(const std::string& nameBytes);
// A path shown the same way, one name at a time.
QString shownPath(const std::string& pathBytes);

// A field with the text shown for it: encoding 0 as CP932, the ID3v2
// encodings 1 to 3 as UTF-16 and UTF-8.
TTagText tagText(const id3::TTagField& field);
// Encoding-0 bytes (CP932) with the text shown for them.
TTagText tagText(const std::string& bytes);

// Reads the tag of the reader's view of one file, as the folder load does:
// open read-only, read, close, then take the texts and the tag position.
TFileList readFileRecord(TMP3id& reader, const std::string& path);

} // namespace morvik
