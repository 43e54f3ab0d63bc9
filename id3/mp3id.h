// The tag object of one MP3 file: reads and writes the ID3v1 record at the
// end of the file or the ID3v2 tag at its start. Texts are the file's bytes
// (Shift-JIS on our users' files) and are never converted here.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace morvik {

class PosixFile;

// Which tag every operation of TMP3id works on: the view shown in the window.
enum class TTagView { None, ID3v1, ID3v2 };

// The 256 genre names indexed by the ID3v1 genre byte: 0-147 the usual list,
// 148-247 empty, 248-255 names of our own.
const std::array<std::string_view, 256>& GenreTable();

// Index of the first GenreTable entry equal to `name` byte for byte, or -1.
int GenreIndex(std::string_view name);

// Raised by WriteTag when it refuses its input or the file could not be
// rewritten; the message names the file.
class TTagWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
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
    std::int32_t TagPosition() const { return m_tagPosition; }
    const std::string& FileName() const { return m_fileName; }

    // Writes the tag of the view. Raises TTagWriteError (naming the file)
    // for a track text that is not 0-255 before anything is written, and for
    // a write that failed; the file is then as it was.
    void WriteTag(bool hasTag, const std::string& title, const std::string& artist,
                  const std::string& album, const std::string& year,
                  const std::string& comment, const std::string& track,
                  const std::string& genre, std::int32_t tagPosition);

private:
    struct Fields {
        std::string title, artist, album, year, comment, track, genre;
    };

    bool readId3v1();
    bool readId3v2();
    bool tagBytesBefore(std::int64_t position);
    void writeId3v1(bool hasTag, const Fields& f);
    void writeId3v2(const Fields& f);
    void rewriteWithTag(const std::string& tag, std::int64_t oldTagEnd);
    [[noreturn]] void fail(const std::string& what, int err) const;

    TTagView m_view;
    bool m_keepDate;
    std::string m_fileName;
    Fields m_fields;
    std::int32_t m_tagPosition = 0;
    std::unique_ptr<PosixFile> m_file;
    int m_openError = 0;
    bool m_haveSavedTime = false;
    timespec m_savedTime{};
};

namespace id3 {
// Cuts Shift-JIS bytes to at most `width` bytes without splitting a
// double-byte character.
std::string cutShiftJis(std::string_view text, std::size_t width);
// The ID3v2.3 tag (header and eight frames, no padding, size field 0) that
// WriteTag builds for these fields.
std::string buildId3v2Tag(const std::string& title, const std::string& artist,
                          const std::string& album, const std::string& year,
                          const std::string& comment, const std::string& track,
                          const std::string& genre);
} // namespace id3

} // namespace morvik
