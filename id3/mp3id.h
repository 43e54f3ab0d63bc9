// The tag object of one MP3 file: reads and writes the ID3v1 record at the
// end of the file or the ID3v2 tag at its start. Texts are the file's bytes
// (Shift-JIS on our users' files) and are never converted here.
#pragma once

#include "id3/id3v2tag.h"

#include <array>
#include <cstdint>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace morvik {

class PosixFile;

// Which tag every operation of TMP3id works on: the view shown in the window.
enum class TTagView { None, ID3v1, ID3v2 };

// The 256 genre names indexed by the ID3v1 genre byte: 0-147 the usual list,
// 148-247 empty, 248-255 names of our own.
const std::array<std::string_view, 256>& GenreTable();

// Index of the first GenreTable entry equal to `name` byte for byte, or -1.
int GenreIndex(std::string_view name);

// Why WriteTag refused or failed. The window words each in its own
// language; what() gives an English text for the command line.
enum class TWriteFault {
    BadTrack,          // the track text cannot be written (subject: the text)
    NotShiftJis,       // an ID3v1 field in another encoding than 0
    TagMoved,          // the ID3v1 record is no longer where it was read
    ReadFile,          // the file could not be read
    AppendId3v1,       // the ID3v1 record could not be appended
    WriteId3v1,        // the ID3v1 record could not be written
    BadId3v2Size,      // the ID3v2 size is wrong and no audio follows
    WriteId3v2,        // the ID3v2 tag could not be written in place
    TagTooLarge,       // the new ID3v2 tag exceeds what its size field holds
    WriteNewFile,      // the new content could not be written
    FileMissing,       // the file's real path could not be found
    FileReplaced,      // another file took the name during the write
    TempFile,          // no temporary file could be made
    ReplaceFile,       // the temporary file could not replace the file
    MakeFolder,        // the folder for unfinished writes (subject) could not be made
    WriteFile,         // the new content could not be copied over the file
    CopyPending,       // as WriteFile, but the next write finishes the copy
    FinishInterrupted, // an earlier interrupted write could not be finished
};

// Raised by WriteTag when it refuses its input or the file could not be
// rewritten; the message names the file.
class TTagWriteError : public std::runtime_error {
public:
    TTagWriteError(std::string fileName, TWriteFault fault, std::string subject, int systemError);
    const std::string& fileName() const { return m_fileName; }
    TWriteFault fault() const { return m_fault; }
    // The text the fault is about (a track text, a folder), or empty.
    const std::string& subject() const { return m_subject; }
    // errno of the system call that failed, or 0.
    int systemError() const { return m_systemError; }

private:
    std::string m_fileName;
    TWriteFault m_fault;
    std::string m_subject;
    int m_systemError;
};

class TMP3id {
public:
    // The view and the keep-date setting are fixed per object, so the window,
    // the command-line tool and the tests drive it the same way.
    explicit TMP3id(TTagView view = TTagView::ID3v1, bool keepDate = false);
    ~TMP3id();
    TMP3id(const TMP3id&) = delete;
    TMP3id& operator=(const TMP3id&) = delete;

    TTagView View() const { return m_view; }
    void SetView(TTagView view) { m_view = view; }
    bool KeepDate() const { return m_keepDate; }
    void SetKeepDate(bool keep) { m_keepDate = keep; }

    // mode 0: read only; mode 2: read and write. Never fails: a file that
    // cannot be opened reads as having no tag and is never written.
    void Open(const std::string& path, int mode);
    void Close();
    bool IsOpen() const;
    // errno of the last failed open, 0 after a successful one.
    int OpenError() const { return m_openError; }

    bool ReadTag();

    std::string Title() const;
    std::string Artist() const;
    std::string Album() const;
    std::string Year() const;
    std::string Comment() const;
    std::string Track() const;
    std::string Genre() const;
    // A field as read: in encoding 0 exactly the bytes its getter gives; in
    // the ID3v2 encodings 1 to 3 the frame's text bytes (UTF-16 with its
    // byte-order mark), to be converted for the screen by the caller.
    id3::TTagField Field(id3::TTagFieldIndex index) const;
    // The seven fields as Field gives them, in the grid's column order.
    id3::TTagFields Fields() const;
    // 64-bit: files over 4 GiB keep their record's true offset.
    std::int64_t TagPosition() const { return m_tagPosition; }
    const std::string& FileName() const { return m_fileName; }

    // Writes the tag of the view. Raises TTagWriteError (naming the file)
    // for a track text parseTrack refuses for the view before anything is
    // written, for a file whose audio cannot be found, and for a write that
    // failed; the file is then as it was. In the ID3v2 view a track text
    // equal to the one the file's tag holds is written back whatever it is,
    // so a tag from another program never stops a write of other fields.
    //
    // A rewrite keeps the file's identity: a symbolic link stays a link to
    // the rewritten target, and owner, group, mode, extended attributes and
    // ACLs stay. Where one rename cannot keep them (several hard links, an
    // owner the process cannot give, a folder it may not create files in),
    // the new content is first made durable in a named temporary file, then
    // copied over the file itself. Such a copy cut short (a crash, SIGKILL) is
    // finished by the next write of the file before anything else.
    void WriteTag(bool hasTag, const std::string& title, const std::string& artist,
                  const std::string& album, const std::string& year,
                  const std::string& comment, const std::string& track,
                  const std::string& genre, std::int64_t tagPosition);
    // The same with each field's encoding. In the ID3v1 view every field
    // must be in encoding 0. In the ID3v2 view every frame of the old tag
    // that the grid does not show is kept (see DroppedFrames).
    void WriteTag(bool hasTag, const id3::TTagFields& fields, std::int64_t tagPosition);
    // The frames of the old ID3v2 tag the last WriteTag could not keep, one
    // description each.
    const std::vector<std::string>& DroppedFrames() const { return m_dropped; }

    // Whether the last WriteTag first finished an interrupted in-place
    // rewrite of this file.
    bool FinishedInterruptedWrite() const { return m_finishedInterrupted; }
    // Finishes an interrupted in-place rewrite of `path`, if there is one;
    // returns true when it did. Raises TTagWriteError when it could not.
    static bool FinishInterruptedWrite(const std::string& path);

private:
    bool readId3v1();
    bool readId3v2();
    bool tagBytesBefore(std::int64_t position);
    void checkTrack(const id3::TTagField& track, const id3::TTagField* kept) const;
    void writeId3v1(bool hasTag, const id3::TTagFields& fields);
    void writeId3v2(const id3::TTagFields& f);
    std::int64_t oldTagEndForRewrite(const unsigned char* head, std::size_t got, std::int64_t fileSize);
    void rewriteWithTag(const std::string& tag, std::int64_t oldTagEnd);
    void writeNewContent(PosixFile& out, const std::string& tag, std::int64_t oldTagEnd);
    bool rewriteByRename(const std::string& realPath, const std::string& tag, std::int64_t oldTagEnd);
    void rewriteInPlace(const std::string& realPath, const std::string& tag, std::int64_t oldTagEnd);
    void finishInterrupted();
    [[noreturn]] void fail(TWriteFault fault, int err, const std::string& subject = {}) const;

    TTagView m_view;
    bool m_keepDate;
    std::string m_fileName;
    id3::TTagFields m_fields;
    std::vector<std::string> m_dropped;
    std::int64_t m_tagPosition = 0;
    std::unique_ptr<PosixFile> m_file;
    int m_openError = 0;
    bool m_finishedInterrupted = false;
    bool m_haveSavedTime = false;
    timespec m_savedTime{};
};

namespace id3 {
// Cuts Shift-JIS bytes to at most `width` bytes without splitting a
// double-byte character.
std::string cutShiftJis(std::string_view text, std::size_t width);
// Whether a track text can be written in `view`: empty, or decimal digits
// optionally followed by "/" and decimal digits ("2/12", track 2 of 12, as
// other programs write it). The ID3v1 record holds the number before the "/"
// in one byte, so there it must be 0 to 255. `number` receives that number
// (0 when empty, at most 2^32 - 1).
bool parseTrack(std::string_view text, TTagView view, std::uint32_t* number);
// The seven fields as an ID3v1 record holds them once written: texts cut
// to their field's width, the track as the decimal number of its byte, the
// genre as the GenreTable name its byte stands for. Fields must be in
// encoding 0 and the track accepted by parseTrack.
TTagFields asWrittenToId3v1(const TTagFields& fields);
// The ID3v2.3 tag (header and eight frames, no padding, size field 0) that
// WriteTag builds for these fields when the file has no other frames.
std::string buildId3v2Tag(const std::string& title, const std::string& artist,
                          const std::string& album, const std::string& year,
                          const std::string& comment, const std::string& track,
                          const std::string& genre);
} // namespace id3

} // namespace morvik
