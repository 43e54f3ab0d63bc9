// The ID3v2 tag at the start of a file, walked frame by frame: versions 2.2,
// 2.3 and 2.4, whole-tag unsynchronisation, the extended header and padding.
// The walk reads frame headers and seeks past bodies, so a large picture is
// never read to find the frames behind it. Texts stay bytes with their
// encoding byte; nothing here converts a character set.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace morvik {
class PosixFile;
}

namespace morvik::id3 {

// Random access to the bytes of a file (a file, or memory in the tests).
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to `n` bytes at `offset`; the count read, short at the end.
    virtual std::size_t readAt(std::int64_t offset, void* out, std::size_t n) = 0;
};

// A file read through a small cache, so the frame walk costs one read per
// block of frame headers and seeks past large bodies.
class FileByteSource final : public ByteSource {
public:
    explicit FileByteSource(PosixFile& file) : m_file(file) {}
    std::size_t readAt(std::int64_t offset, void* out, std::size_t n) override;

private:
    PosixFile& m_file;
    unsigned char m_cache[4096];
    std::int64_t m_start = 0;
    std::size_t m_length = 0;
};

// A text as an ID3v2 frame holds it: the encoding byte and the bytes of the
// text (UTF-16 with its byte-order mark). ID3v1 texts have encoding 0.
struct TTagField {
    unsigned char encoding = 0;
    std::string bytes;
    bool operator==(const TTagField&) const = default;
};

// The seven fields in the order of the grid's columns.
enum TTagFieldIndex { tfTitle, tfArtist, tfAlbum, tfYear, tfComment, tfTrack, tfGenre, tfCount };
using TTagFields = std::array<TTagField, tfCount>;

struct Id3v2Frame {
    std::string id;          // as stored: three letters (2.2) or four
    std::int64_t offset = 0; // of the frame header in the tag's frame stream
    std::uint32_t size = 0;  // of the body as stored
    std::uint16_t flags = 0; // status byte, format byte; 0 in version 2.2
};

class Id3v2Tag {
public:
    // The tag at the start of `source` (`fileSize` bytes long), its frame
    // headers walked; nothing when the file does not begin with "ID3".
    static std::optional<Id3v2Tag> read(ByteSource& source, std::int64_t fileSize);

    int version() const { return m_version; }
    int revision() const { return m_revision; }
    std::uint8_t flags() const { return m_flags; }
    // Header size plus declared size, not bounded by the file.
    std::int64_t declaredEnd() const { return m_declaredEnd; }
    const std::vector<Id3v2Frame>& frames() const { return m_frames; }
    // Where the walk stopped at a damaged frame (a size beyond the tag, an
    // identifier that is not one), or -1 when it reached padding or the end.
    std::int64_t damagedAt() const { return m_damagedAt; }
    // Whether the frame stream was read into memory to undo whole-tag
    // unsynchronisation (offsets are then those of the restored stream).
    bool unsynchronised() const { return m_unsynchronised; }
    // File offset at which the last walked frame ends (the frame area read).
    std::int64_t framesEndInFile() const { return m_framesEndInFile; }

    int headerSize() const { return m_version == 2 ? 6 : 10; }
    // The frame's header and body as stored (after whole-tag
    // unsynchronisation was undone).
    std::string storedFrame(const Id3v2Frame& frame) const;
    // The body with the version 2.4 per-frame unsynchronisation undone and
    // the data-length indicator removed; nothing when the frame is
    // compressed or encrypted, or its indicator is cut off.
    std::optional<std::string> plainBody(const Id3v2Frame& frame) const;

    // The seven fields the grid shows, taken from the first frame of each
    // identifier (COMM: the first with an empty description, else the
    // first; without TYER: the first four characters of TDRC).
    // `taken` receives the index in frames() of each frame used, or -1.
    TTagFields fields(std::array<int, tfCount>* taken = nullptr) const;

private:
    Id3v2Tag(ByteSource& source) : m_source(&source) {}
    std::size_t readStream(std::int64_t offset, void* out, std::size_t n) const;
    void walk(std::int64_t from, std::int64_t end);
    std::optional<std::uint32_t> frameSize(const unsigned char* header, std::int64_t at, std::int64_t end) const;
    bool frameCanStart(std::int64_t at, std::int64_t end) const;

    ByteSource* m_source;
    int m_version = 0;
    int m_revision = 0;
    std::uint8_t m_flags = 0;
    std::int64_t m_declaredEnd = 0;
    std::int64_t m_damagedAt = -1;
    std::int64_t m_framesEndInFile = 10;
    bool m_unsynchronised = false;
    std::string m_stream; // the frame stream, when unsynchronisation was undone
    std::vector<Id3v2Frame> m_frames;
};

// Identifiers: four (three in 2.2) capital letters or digits, a letter first.
bool isFrameId(const char* id, std::size_t length);

// The first string of `bytes` from `start` in `encoding`: up to its
// terminator (0x00, or 00 00 at an even distance in UTF-16) or the end.
// `next` receives the offset after the terminator (the end when none).
std::string stringAt(const std::string& bytes, std::size_t start, unsigned char encoding, std::size_t* next);

// The first string of a field's text: what the field shows. The other
// encodings than 0 keep the frame's whole text, terminator and further
// values included, so that it is written back unchanged.
std::string firstString(const TTagField& field);

// Undoes unsynchronisation: every 0xFF 0x00 becomes 0xFF.
std::string withoutUnsynchronisation(const std::string& bytes);

// The TCON text as the grid shows it: leading "(n)" references are taken
// off; a text that was only a reference, or in version 2.4 only a number,
// becomes the GenreTable name of that number.
TTagField genreOfTcon(const TTagField& text, int version);

// The text of a field when every character is ASCII (the units of UTF-16
// read in the order of its mark), else nothing.
std::optional<std::string> asciiText(const TTagField& field);

} // namespace morvik::id3
