#include "id3/mp3id.h"

#include "id3/framesync.h"
#include "id3/id3v2write.h"
#include "platform/bytes.h"
#include "platform/posixfile.h"
#include "platform/textcodec.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace morvik {
namespace {

constexpr std::size_t kV1SearchBytes = 200;  // the record is looked for in the last 200 bytes
constexpr std::size_t kV1RecordBytes = 128;
constexpr std::size_t kV1Buffer = 4096;
constexpr std::size_t kRewritePadding = 2001;
constexpr std::size_t kCopyBuffer = 1 << 20;
constexpr std::size_t kScanBuffer = 1 << 16;
constexpr char kUnfinishedMark[] = ".morvik-unfinished-";

std::string withoutNulBytes(const std::string& s)
{
    std::string out = s;
    out.erase(std::remove(out.begin(), out.end(), '\0'), out.end());
    return out;
}

// Index written into the genre byte: the first table entry equal to the
// name; an empty name finds the first empty entry, 148.
int genreNumber(const std::string& genre, int whenUnknown)
{
    const int index = GenreIndex(genre);
    return index < 0 ? whenUnknown : index;
}

// The English text of a fault, for the command line and logs.
std::string faultText(TWriteFault fault, const std::string& subject)
{
    switch (fault) {
    case TWriteFault::BadTrack: return "track \"" + subject + "\" is not a track number that can be written";
    case TWriteFault::NotShiftJis: return "an ID3v1 tag holds Shift-JIS texts only";
    case TWriteFault::TagMoved: return "no ID3v1 tag at the position read before";
    case TWriteFault::ReadFile: return "cannot read the file";
    case TWriteFault::AppendId3v1: return "cannot append the ID3v1 tag";
    case TWriteFault::WriteId3v1: return "cannot write the ID3v1 tag";
    case TWriteFault::BadId3v2Size:
        return "the ID3v2 tag's size is wrong and no audio follows it; the file is left as it was";
    case TWriteFault::WriteId3v2: return "cannot write the ID3v2 tag";
    case TWriteFault::TagTooLarge: return "the tag is too large";
    case TWriteFault::WriteNewFile: return "cannot write the new file";
    case TWriteFault::FileMissing: return "cannot find the file";
    case TWriteFault::FileReplaced: return "the file was replaced while it was being written";
    case TWriteFault::TempFile: return "cannot create a temporary file";
    case TWriteFault::ReplaceFile: return "cannot replace the file";
    case TWriteFault::MakeFolder: return "cannot create the folder " + subject;
    case TWriteFault::WriteFile: return "cannot write the file";
    case TWriteFault::CopyPending: return "cannot write the file; the next write of it finishes the copy";
    case TWriteFault::FinishInterrupted: return "cannot finish the interrupted write of this file";
    }
    return "cannot write the tag";
}

std::string describe(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            static const char hex[] = "0123456789abcdef";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}


// Whether a frame header at `offset` is confirmed: the next frame's header
// stands where this one says it ends, or this one ends exactly at the end of
// the file or at an ID3v1 record.
bool confirmedFrameAt(PosixFile& file, std::int64_t offset, std::int64_t fileSize)
{
    unsigned char head[4];
    std::size_t got = 0;
    if (!file.readAt(offset, head, 4, &got) || got != 4)
        return false;
    const std::uint32_t length = id3::mpegFrameLength(head);
    if (length == 0)
        return false;
    const std::int64_t next = offset + length;
    if (next == fileSize)
        return true;
    unsigned char after[4];
    if (!file.readAt(next, after, 4, &got) || got < 3)
        return false;
    if (std::memcmp(after, "TAG", 3) == 0)
        return true;
    return got == 4 && id3::mpegFrameLength(after) != 0 && id3::sameMpegStream(head, after);
}

// The offset of the first confirmed frame at or after `from`, or -1.
std::int64_t firstConfirmedFrame(PosixFile& file, std::int64_t from, std::int64_t fileSize)
{
    std::vector<unsigned char> buffer(kScanBuffer);
    for (std::int64_t start = from; start + 4 <= fileSize;) {
        std::size_t got = 0;
        if (!file.readAt(start, buffer.data(), buffer.size(), &got) || got < 4)
            return -1;
        for (std::size_t i = 0; i + 1 < got; ++i) {
            if (buffer[i] == 0xFF && (buffer[i + 1] & 0xE0) == 0xE0 &&
                confirmedFrameAt(file, start + static_cast<std::int64_t>(i), fileSize))
                return start + static_cast<std::int64_t>(i);
        }
        start += static_cast<std::int64_t>(got) - 1;
    }
    return -1;
}

bool copyRange(PosixFile& from, std::int64_t offset, PosixFile& to, int* readErr, int* writeErr)
{
    std::vector<char> buffer(kCopyBuffer);
    if (!from.seek(offset)) {
        *readErr = from.lastError();
        return false;
    }
    while (true) {
        const std::size_t got = from.read(buffer.data(), buffer.size());
        if (from.lastError() != 0) {
            *readErr = from.lastError();
            return false;
        }
        if (got == 0)
            return true;
        if (!to.write(buffer.data(), got)) {
            *writeErr = to.lastError();
            return false;
        }
    }
}

std::string hexText(std::uint64_t v)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    do {
        out.insert(out.begin(), hex[v & 15]);
        v >>= 4;
    } while (v);
    return out;
}

// Where the cache folder for unfinished rewrites is: $XDG_CACHE_HOME/morvik,
// by default ~/.cache/morvik.
std::string cacheFolder()
{
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && *xdg == '/')
        return std::string(xdg) + "/morvik/";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "") + "/.cache/morvik/";
}

// The two places the complete new content of an in-place rewrite may wait:
// beside the file, or in the cache folder. The name carries the file's name
// and its identity, so a later file that happens to get the same name is
// never overwritten with it.
std::string unfinishedName(const std::string& realPath, const FileId& id, bool beside)
{
    const std::string base = realPath.substr(realPath.rfind('/') + 1);
    const std::string suffix = kUnfinishedMark + hexText(id.device) + "-" + hexText(id.inode) + "-" +
                               hexText(static_cast<std::uint64_t>(id.birthSeconds)) + "." +
                               hexText(id.birthNanoseconds);
    return beside ? folderOf(realPath) + "." + base + suffix : cacheFolder() + base + suffix;
}

// Copies the whole of `source` over `target` and flushes it. Room for the
// longer content is reserved first, so a full disk stops the copy before the
// target's first byte changes.
bool copyOver(PosixFile& source, PosixFile& target, int* readErr, int* writeErr, bool* touched)
{
    *touched = false;
    const std::int64_t size = source.size();
    const std::int64_t oldSize = target.size();
    if (size < 0 || oldSize < 0) {
        *readErr = size < 0 ? source.lastError() : target.lastError();
        return false;
    }
    if (size > oldSize && !target.reserve(oldSize, size - oldSize)) {
        *writeErr = target.lastError();
        return false;
    }
    if (!target.seek(0)) {
        *writeErr = target.lastError();
        return false;
    }
    *touched = true;
    if (!copyRange(source, 0, target, readErr, writeErr))
        return false;
    if (!target.truncate(size) || !target.syncToDisk()) {
        *writeErr = target.lastError();
        return false;
    }
    return true;
}

// Finishes an interrupted in-place rewrite of the open file, if there is one.
// Returns 1 when it did, 0 when there was none, and an errno value (negated)
// when it failed.
int finishUnfinished(PosixFile& target, const std::string& realPath)
{
    const auto id = target.id();
    if (!id)
        return 0;
    for (const bool beside : {true, false}) {
        const std::string name = unfinishedName(realPath, *id, beside);
        PosixFile journal = PosixFile::openRegular(name, PosixFile::Mode::ReadOnly);
        if (!journal.valid())
            continue;
        int readErr = 0;
        int writeErr = 0;
        bool touched = false;
        if (!copyOver(journal, target, &readErr, &writeErr, &touched))
            return -(writeErr ? writeErr : (readErr ? readErr : EIO));
        journal.close();
        removeFile(name);
        syncFolder(folderOf(name));
        return 1;
    }
    return 0;
}

id3::TTagFields plainFields(const std::string& title, const std::string& artist, const std::string& album,
                            const std::string& year, const std::string& comment, const std::string& track,
                            const std::string& genre)
{
    return {id3::TTagField{0, title}, {0, artist}, {0, album}, {0, year}, {0, comment}, {0, track}, {0, genre}};
}

} // namespace

namespace id3 {

bool parseTrack(std::string_view text, TTagView view, std::uint32_t* number)
{
    *number = 0;
    if (text.empty())
        return true;
    const auto digits = [](std::string_view part) {
        return !part.empty() && std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    const std::size_t slash = text.find('/');
    const std::string_view track = text.substr(0, slash);
    if (!digits(track) || (slash != std::string_view::npos && !digits(text.substr(slash + 1))))
        return false;
    std::uint64_t value = 0;
    for (char c : track)
        value = std::min<std::uint64_t>(value * 10 + static_cast<std::uint64_t>(c - '0'), UINT32_MAX);
    *number = static_cast<std::uint32_t>(value);
    return view != TTagView::ID3v1 || value <= 255;
}

TTagFields asWrittenToId3v1(const TTagFields& f)
{
    std::uint32_t track = 0;
    parseTrack(f[tfTrack].bytes, TTagView::ID3v1, &track);
    return plainFields(cutShiftJis(f[tfTitle].bytes, 30), cutShiftJis(f[tfArtist].bytes, 30),
                       cutShiftJis(f[tfAlbum].bytes, 30), cutShiftJis(f[tfYear].bytes, 4),
                       cutShiftJis(f[tfComment].bytes, 28),
                       f[tfTrack].bytes.empty() ? std::string() : std::to_string(track),
                       std::string(GenreTable()[static_cast<std::size_t>(genreNumber(f[tfGenre].bytes, 0))]));
}

std::string cutShiftJis(std::string_view text, std::size_t width)
{
    if (text.size() <= width)
        return std::string(text);
    // Walk characters from the start: a trail byte can look like a lead byte,
    // so only a walk from the start knows where characters begin.
    std::size_t i = 0;
    while (i < width) {
        const std::size_t length = isCp932LeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1;
        if (i + length > width)
            break;
        i += length;
    }
    return std::string(text.substr(0, i));
}

std::string buildId3v2Tag(const std::string& title, const std::string& artist,
                          const std::string& album, const std::string& year,
                          const std::string& comment, const std::string& track,
                          const std::string& genre)
{
    return std::string("ID3\x03\x00\x00", 6) + std::string(4, '\0') +
           buildFrames(plainFields(title, artist, album, year, comment, track, genre));
}

} // namespace id3

TMP3id::TMP3id(TTagView view, bool keepDate) : m_view(view), m_keepDate(keepDate) {}

TMP3id::~TMP3id() = default;

void TMP3id::Open(const std::string& path, int mode)
{
    m_fileName = path;
    m_file = std::make_unique<PosixFile>(
        PosixFile::openRegular(path, mode == 2 ? PosixFile::Mode::ReadWrite : PosixFile::Mode::ReadOnly));
    m_openError = m_file->valid() ? 0 : m_file->lastError();
    m_haveSavedTime = false;
    if (m_keepDate && m_file->valid()) {
        if (const auto t = m_file->modificationTime()) {
            m_savedTime = *t;
            m_haveSavedTime = true;
        }
    }
}

void TMP3id::Close()
{
    if (!m_file)
        return;
    if (m_keepDate && m_haveSavedTime)
        m_file->setModificationTime(m_savedTime);
    m_file->close();
}

bool TMP3id::IsOpen() const { return m_file && m_file->valid(); }

bool TMP3id::ReadTag()
{
    switch (m_view) {
    case TTagView::ID3v2:
        return readId3v2();
    case TTagView::ID3v1:
        return readId3v1();
    case TTagView::None:
        break;
    }
    return false;
}

namespace {

// The offset in the last 200 bytes (`tail`) of the ID3v1 record, or -1. The
// record at exactly 128 bytes before the end wins; otherwise the first "TAG"
// whose whole record fits before the end. The "TAG" of an APEv2 footer or
// header ("APETAGEX") is never a record.
int findId3v1Record(const unsigned char* tail)
{
    const auto isRecord = [tail](std::size_t p) {
        const bool ape = p >= 5 && std::memcmp(tail + p - 5, "APETAGEX", 8) == 0;
        return std::memcmp(tail + p, "TAG", 3) == 0 && !ape;
    };
    constexpr std::size_t last = kV1SearchBytes - kV1RecordBytes;
    if (isRecord(last))
        return static_cast<int>(last);
    for (std::size_t p = 0; p < last; ++p)
        if (isRecord(p))
            return static_cast<int>(p);
    return -1;
}

} // namespace

bool TMP3id::readId3v1()
{
    const std::int64_t size = IsOpen() ? m_file->size() : -1;
    m_tagPosition = size - static_cast<std::int64_t>(kV1SearchBytes);
    // A file shorter than the bytes searched can still be a record alone
    // (one appended to an empty file): its last 128 bytes are read instead.
    // Without this, every write would append another record to it.
    const bool shortFile = size >= static_cast<std::int64_t>(kV1RecordBytes) &&
                           size < static_cast<std::int64_t>(kV1SearchBytes);
    const std::size_t want = shortFile ? kV1RecordBytes : kV1SearchBytes;
    const std::int64_t start = size - static_cast<std::int64_t>(want);

    unsigned char buffer[kV1Buffer] = {};
    std::size_t got = 0;
    int p = -1;
    if (size >= 0 && start >= 0 && m_file->readAt(start, buffer, want, &got) && got == want)
        p = shortFile ? (std::memcmp(buffer, "TAG", 3) == 0 ? 0 : -1) : findId3v1Record(buffer);
    if (p < 0) {
        m_fields[id3::tfTrack] = {0, std::string(1, '\0')};
        return false;
    }
    const unsigned char* found = buffer + p;
    m_tagPosition = start + p + 3;
    const auto field = [&](std::size_t offset, std::size_t n) {
        return std::string(reinterpret_cast<const char*>(found + offset), n);
    };
    std::string year = field(93, 4);
    if (year == std::string(4, '\0'))
        year.clear();
    m_fields = plainFields(field(3, 30), field(33, 30), field(63, 30), year, field(97, 28),
                           found[125] == 0x20 ? std::string() : std::to_string(found[126]),
                           std::string(GenreTable()[found[127]]));
    return true;
}

bool TMP3id::readId3v2()
{
    if (!IsOpen())
        return false;
    id3::FileByteSource source(*m_file);
    const auto tag = id3::Id3v2Tag::read(source, m_file->size());
    if (!tag)
        return false;
    // Fields without a frame stay as they were.
    std::array<int, id3::tfCount> taken{};
    const id3::TTagFields found = tag->fields(&taken);
    for (std::size_t f = 0; f < found.size(); ++f)
        if (taken[f] >= 0)
            m_fields[f] = found[f];
    return true;
}

std::string TMP3id::Title() const { return withoutNulBytes(m_fields[id3::tfTitle].bytes); }
std::string TMP3id::Artist() const { return withoutNulBytes(m_fields[id3::tfArtist].bytes); }
std::string TMP3id::Album() const { return withoutNulBytes(m_fields[id3::tfAlbum].bytes); }
std::string TMP3id::Year() const { return m_fields[id3::tfYear].bytes; }
std::string TMP3id::Comment() const { return withoutNulBytes(m_fields[id3::tfComment].bytes); }
std::string TMP3id::Genre() const { return m_fields[id3::tfGenre].bytes; }

std::string TMP3id::Track() const
{
    const std::string& track = m_fields[id3::tfTrack].bytes;
    return track == std::string(1, '\0') ? std::string() : track;
}

id3::TTagFields TMP3id::Fields() const
{
    id3::TTagFields fields;
    for (std::size_t i = 0; i < fields.size(); ++i)
        fields[i] = Field(static_cast<id3::TTagFieldIndex>(i));
    return fields;
}

id3::TTagField TMP3id::Field(id3::TTagFieldIndex index) const
{
    const id3::TTagField& raw = m_fields[index];
    if (raw.encoding != 0)
        return raw;
    switch (index) {
    case id3::tfTitle: return {0, Title()};
    case id3::tfArtist: return {0, Artist()};
    case id3::tfAlbum: return {0, Album()};
    case id3::tfComment: return {0, Comment()};
    case id3::tfTrack: return {0, Track()};
    default: return raw;
    }
}

TTagWriteError::TTagWriteError(std::string fileName, TWriteFault fault, std::string subject, int systemError)
    : std::runtime_error(fileName + ": " + faultText(fault, subject) +
                         (systemError ? ": " + systemErrorText(systemError) : "")),
      m_fileName(std::move(fileName)), m_fault(fault), m_subject(std::move(subject)), m_systemError(systemError)
{
}

void TMP3id::fail(TWriteFault fault, int err, const std::string& subject) const
{
    throw TTagWriteError(m_fileName, fault, subject, err);
}

void TMP3id::WriteTag(bool hasTag, const std::string& title, const std::string& artist,
                      const std::string& album, const std::string& year, const std::string& comment,
                      const std::string& track, const std::string& genre, std::int64_t tagPosition)
{
    WriteTag(hasTag, plainFields(title, artist, album, year, comment, track, genre), tagPosition);
}

// Refuses a track text parseTrack does not take for the view, unless it is
// the text `kept` the tag already holds.
void TMP3id::checkTrack(const id3::TTagField& track, const id3::TTagField* kept) const
{
    const auto sameText = [&] {
        return kept && kept->encoding == track.encoding && id3::firstString(*kept) == id3::firstString(track);
    };
    const auto text = id3::asciiText(id3::TTagField{track.encoding, id3::firstString(track)});
    std::uint32_t number = 0;
    if (!(text && id3::parseTrack(*text, m_view, &number)) && !sameText())
        fail(TWriteFault::BadTrack, 0, describe(track.bytes));
}

void TMP3id::WriteTag(bool hasTag, const id3::TTagFields& fields, std::int64_t tagPosition)
{
    m_dropped.clear();
    if (m_view == TTagView::ID3v1) {
        for (const id3::TTagField& field : fields)
            if (field.encoding != 0)
                fail(TWriteFault::NotShiftJis, 0);
        checkTrack(fields[id3::tfTrack], nullptr);
    }
    // A file that could not be opened is not written.
    if (!IsOpen())
        return;
    finishInterrupted();
    const bool positioned = m_file->seek(tagPosition);
    const id3::TTagFields& f = fields;
    if (m_view == TTagView::ID3v1) {
        // The record is updated where it was found; if the file no longer
        // has "TAG" there (it changed since it was read), writing would
        // overwrite audio.
        if (hasTag && !(positioned && tagBytesBefore(tagPosition)))
            fail(TWriteFault::TagMoved, 0);
        m_file->seek(tagPosition);
        writeId3v1(hasTag, f);
    }
    else if (m_view == TTagView::ID3v2)
        writeId3v2(f);
}

bool TMP3id::FinishInterruptedWrite(const std::string& path)
{
    TMP3id tag(TTagView::None, false);
    tag.Open(path, 2);
    if (!tag.IsOpen())
        return false;
    tag.finishInterrupted();
    tag.Close();
    return tag.m_finishedInterrupted;
}

void TMP3id::finishInterrupted()
{
    m_finishedInterrupted = false;
    int err = 0;
    const auto real = resolvedPath(m_fileName, &err);
    if (!real)
        return;
    const int result = finishUnfinished(*m_file, *real);
    if (result < 0)
        fail(TWriteFault::FinishInterrupted, -result);
    m_finishedInterrupted = result == 1;
}

bool TMP3id::tagBytesBefore(std::int64_t position)
{
    char magic[3] = {};
    std::size_t got = 0;
    return position >= 3 && m_file->readAt(position - 3, magic, 3, &got) && got == 3 &&
           std::memcmp(magic, "TAG", 3) == 0;
}

void TMP3id::writeId3v1(bool hasTag, const id3::TTagFields& fields)
{
    const id3::TTagFields f = id3::asWrittenToId3v1(fields);
    const auto padded = [](std::string s, std::size_t width, char pad) {
        s.resize(width, pad);
        return s;
    };
    std::string record;
    const std::int64_t oldSize = m_file->size();
    const std::int64_t at = hasTag ? m_file->position() : oldSize;
    if (!hasTag) {
        if (oldSize < 0 || !m_file->seekToEnd())
            fail(TWriteFault::AppendId3v1, m_file->lastError());
        record = "TAG";
    }
    record += padded(f[id3::tfTitle].bytes, 30, '\0');
    record += padded(f[id3::tfArtist].bytes, 30, '\0');
    record += padded(f[id3::tfAlbum].bytes, 30, '\0');
    record += padded(f[id3::tfYear].bytes, 4, '\0');
    record += padded(f[id3::tfComment].bytes, 28, ' ');
    std::uint32_t trackNumber = 0;
    id3::parseTrack(f[id3::tfTrack].bytes, TTagView::ID3v1, &trackNumber);
    if (f[id3::tfTrack].bytes.empty()) {
        record += "  ";
    } else {
        record += '\0';
        record += static_cast<char>(trackNumber);
    }
    record += static_cast<char>(genreNumber(f[id3::tfGenre].bytes, 0));

    // The bytes being replaced, so that a write cut short (a full disk, an
    // I/O error) can be undone instead of leaving half a record.
    std::string previous(record.size(), '\0');
    std::size_t got = 0;
    if (hasTag && (at < 0 || !m_file->readAt(at, previous.data(), previous.size(), &got)))
        fail(TWriteFault::ReadFile, m_file->lastError());
    previous.resize(got);
    if (!m_file->seek(at) || !m_file->write(record.data(), record.size())) {
        const int err = m_file->lastError();
        if (hasTag)
            m_file->writeAt(at, previous.data(), previous.size());
        else
            m_file->truncate(oldSize);
        fail(hasTag ? TWriteFault::WriteId3v1 : TWriteFault::AppendId3v1, err);
    }
}

// Where the old tag ends for a rewrite: the declared end when it is
// plausible, otherwise where the audio the player would find begins. A size
// field beyond the file, with a high bit set, or pointing at something that
// is not audio while audio starts earlier, would cut audio off. -1 when no
// audio can be found after a size field that cannot be trusted.
std::int64_t TMP3id::oldTagEndForRewrite(const unsigned char* head, std::size_t got, std::int64_t fileSize)
{
    if (got < 3 || std::memcmp(head, "ID3", 3) != 0)
        return 0;
    std::int64_t declared = (got == 10 ? bytes::syncSafe28(head + 6) : 0) + 10;
    if (got == 10 && head[3] == 4 && (head[5] & 0x10))
        declared += 10;
    const bool trusted = got == 10 && bytes::isSyncSafe(head + 6) && declared <= fileSize;
    if (trusted && (declared == fileSize || confirmedFrameAt(*m_file, declared, fileSize)))
        return declared;
    const std::int64_t audio = firstConfirmedFrame(*m_file, std::min<std::int64_t>(got, 10), fileSize);
    if (!trusted)
        return audio;
    // Nothing that looks like audio at the declared end: keep every byte
    // from the earlier of the two, so nothing the player might play is lost.
    return audio < 0 ? declared : std::min(audio, declared);
}

void TMP3id::writeId3v2(const id3::TTagFields& f)
{
    unsigned char head[10] = {};
    std::size_t got = 0;
    m_file->readAt(0, head, sizeof head, &got);
    const std::int64_t fileSize = m_file->size();
    if (fileSize < 0)
        fail(TWriteFault::ReadFile, m_file->lastError());
    id3::FileByteSource source(*m_file);
    const auto old = id3::Id3v2Tag::read(source, fileSize);
    std::array<int, id3::tfCount> taken{};
    const id3::TTagFields oldFields = old ? old->fields(&taken) : id3::TTagFields{};
    checkTrack(f[id3::tfTrack], old && taken[id3::tfTrack] >= 0 ? &oldFields[id3::tfTrack] : nullptr);
    const std::int64_t oldTagEnd = oldTagEndForRewrite(head, got, fileSize);
    if (oldTagEnd < 0)
        fail(TWriteFault::BadId3v2Size, 0);

    // The eight frames first, then every other frame of the old tag.
    std::string tag = std::string("ID3\x03\x00\x00", 6) + std::string(4, '\0') + id3::buildFrames(f);
    if (old)
        tag += id3::keptFrames(*old, taken, oldTagEnd, &m_dropped);
    const std::int64_t frames = static_cast<std::int64_t>(tag.size()) - 10;
    const bool cleanVersion3 = got == 10 && std::memcmp(head, "ID3", 3) == 0 && head[3] == 3 && head[5] == 0 &&
                               bytes::isSyncSafe(head + 6) && oldTagEnd == bytes::syncSafe28(head + 6) + 10;

    if (cleanVersion3 && frames + 10 <= oldTagEnd && oldTagEnd <= fileSize) {
        // In place: frames and padding fill the old tag exactly; the header
        // and the audio stay where they are.
        tag.resize(static_cast<std::size_t>(oldTagEnd), '\0');
        if (!m_file->writeAt(10, tag.data() + 10, tag.size() - 10))
            fail(TWriteFault::WriteId3v2, m_file->lastError());
        if (m_keepDate && m_haveSavedTime)
            m_file->setModificationTime(m_savedTime);
        if (!m_file->close())
            fail(TWriteFault::WriteId3v2, m_file->lastError());
        return;
    }
    tag.append(kRewritePadding, '\0');
    const std::uint64_t size = tag.size() - 10;
    if (size >= (1u << 28))
        fail(TWriteFault::TagTooLarge, 0);
    bytes::putSyncSafe28(tag.data() + 6, static_cast<std::uint32_t>(size));
    rewriteWithTag(tag, oldTagEnd);
}

void TMP3id::writeNewContent(PosixFile& out, const std::string& tag, std::int64_t oldTagEnd)
{
    if (!out.write(tag.data(), tag.size()))
        fail(TWriteFault::WriteNewFile, out.lastError());
    int readErr = 0;
    int writeErr = 0;
    if (!copyRange(*m_file, oldTagEnd, out, &readErr, &writeErr))
        fail(readErr ? TWriteFault::ReadFile : TWriteFault::WriteNewFile, readErr ? readErr : writeErr);
}

// Rewrites the file as the new tag followed by its audio from `oldTagEnd` on,
// keeping its identity (the names it has, owner, group, mode, extended
// attributes and ACLs).
void TMP3id::rewriteWithTag(const std::string& tag, std::int64_t oldTagEnd)
{
    int err = 0;
    const auto real = resolvedPath(m_fileName, &err);
    if (!real)
        fail(TWriteFault::FileMissing, err);
    const auto id = m_file->id();
    if (!id || fileIdOf(*real) != id)
        fail(TWriteFault::FileReplaced, 0);
    if (m_file->linkCount() == 1 && rewriteByRename(*real, tag, oldTagEnd))
        return;
    rewriteInPlace(*real, tag, oldTagEnd);
}

// The usual way: a temporary file beside the target that replaces it with
// one rename; until the rename the original is untouched. Returns false
// (having changed nothing) when a rename could not keep the identity: the
// folder does not let us create a file, or the owner or an extended
// attribute cannot be given to a new file.
bool TMP3id::rewriteByRename(const std::string& realPath, const std::string& tag, std::int64_t oldTagEnd)
{
    TempFileBeside temp(realPath);
    if (!temp.valid()) {
        if (temp.error() == EACCES || temp.error() == EPERM)
            return false;
        fail(TWriteFault::TempFile, temp.error());
    }
    PosixFile& out = temp.file();
    if (m_file->copyOwnerTo(out) != 0 || m_file->copyExtendedAttributesTo(out) != 0)
        return false;
    writeNewContent(out, tag, oldTagEnd);
    if (const auto mode = m_file->permissions())
        out.setPermissions(*mode);
    if (m_keepDate && m_haveSavedTime)
        out.setModificationTime(m_savedTime);
    if (!temp.commitTo(realPath))
        fail(TWriteFault::ReplaceFile, temp.error());
    m_file->close();
    return true;
}

// The careful way where a rename cannot keep the identity: the complete new
// content is first made durable under a name that tells which file it
// belongs to, then copied over the file itself, and only then removed. A
// copy cut short is finished by the next write (finishInterrupted).
void TMP3id::rewriteInPlace(const std::string& realPath, const std::string& tag, std::int64_t oldTagEnd)
{
    const auto id = m_file->id();
    if (!id)
        fail(TWriteFault::ReadFile, m_file->lastError());
    const bool beside = folderIsWritable(folderOf(realPath));
    const std::string journalPath = unfinishedName(realPath, *id, beside);
    if (!beside) {
        const std::string folder = folderOf(journalPath);
        if (const int folderErr = makeFolders(folder.substr(0, folder.size() - 1)))
            fail(TWriteFault::MakeFolder, folderErr, folder);
    }
    {
        TempFileBeside temp(journalPath);
        if (!temp.valid())
            fail(TWriteFault::TempFile, temp.error());
        writeNewContent(temp.file(), tag, oldTagEnd);
        if (!temp.commitTo(journalPath))
            fail(TWriteFault::WriteNewFile, temp.error());
    }
    PosixFile journal = PosixFile::openRegular(journalPath, PosixFile::Mode::ReadOnly);
    int readErr = 0;
    int writeErr = 0;
    bool touched = false;
    if (!journal.valid() || !copyOver(journal, *m_file, &readErr, &writeErr, &touched)) {
        const int copyErr = !journal.valid() ? journal.lastError() : (writeErr ? writeErr : readErr);
        if (!touched) {
            // Nothing was written yet (the room could not be reserved).
            journal.close();
            removeFile(journalPath);
            fail(TWriteFault::WriteFile, copyErr);
        }
        // The complete content stays, and the next write finishes the copy.
        fail(TWriteFault::CopyPending, copyErr);
    }
    journal.close();
    removeFile(journalPath);
    syncFolder(folderOf(journalPath));
    if (m_keepDate && m_haveSavedTime)
        m_file->setModificationTime(m_savedTime);
    if (!m_file->close())
        fail(TWriteFault::WriteFile, m_file->lastError());
}

} // namespace morvik
