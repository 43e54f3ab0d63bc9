// Files on POSIX: an owning descriptor with the few operations the tag code
// and the stream reader need, a temporary file that removes itself unless it
// is kept, and a rename that never replaces an existing file.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace morvik {

// The errno PosixFile gives for a path that is neither a regular file nor a
// pipe (a device, a socket): reading one could never end (/dev/zero).
constexpr int kNotARegularFile = ENODEV;

// The system's text for an errno value ("No space left on device").
std::string systemErrorText(int err);

// Which file a descriptor or path is: equal for two names of one file.
// The birth time, where the file system keeps one, tells a file from a later
// one that got the same inode number.
struct FileId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t birthSeconds = 0;
    std::uint32_t birthNanoseconds = 0;
    bool operator==(const FileId&) const = default;
};

class PosixFile {
public:
    enum class Mode { ReadOnly, ReadWrite };

    PosixFile() = default;
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;
    PosixFile(PosixFile&& other) noexcept;
    PosixFile& operator=(PosixFile&& other) noexcept;
    ~PosixFile();

    // Opens an existing regular file or a pipe without ever blocking in the
    // open (a FIFO without a writer then reads as empty); a folder is refused
    // with EISDIR, a device or socket with kNotARegularFile. Never throws: on
    // failure the result is invalid and lastError() holds errno.
    static PosixFile open(const std::string& path, Mode mode);
    // The same for regular files only: what a tag is read from or written to.
    static PosixFile openRegular(const std::string& path, Mode mode);
    // Creates (or truncates) a file with the given permission bits.
    static PosixFile create(const std::string& path, unsigned permissions = 0644);
    // Adopts a descriptor that is already open.
    static PosixFile adopt(int fd);

    bool valid() const { return m_fd >= 0; }
    int descriptor() const { return m_fd; }
    int lastError() const { return m_error; }

    std::int64_t size();                       // -1 on failure
    bool seek(std::int64_t offset);            // from the start
    bool seekToEnd();
    std::int64_t position();                   // -1 on failure

    // Reads up to n bytes, retrying short reads; returns the count read
    // (less than n only at the end of the file or on error, when
    // lastError() is set; it is 0 after a read that met no error).
    std::size_t read(void* buffer, std::size_t n);
    // Writes all n bytes or fails.
    bool write(const void* buffer, std::size_t n);
    bool readAt(std::int64_t offset, void* buffer, std::size_t n, std::size_t* got);
    bool writeAt(std::int64_t offset, const void* buffer, std::size_t n);

    std::optional<timespec> modificationTime();
    bool setModificationTime(const timespec& t);
    bool setPermissions(unsigned mode);
    std::optional<unsigned> permissions();
    bool syncToDisk();
    // Cuts or extends the file to `length` bytes.
    bool truncate(std::int64_t length);
    // Reserves disk space for the bytes from `offset` on, so that later
    // writes there cannot run out of room; true where the file system does
    // not support reservation.
    bool reserve(std::int64_t offset, std::int64_t length);

    std::optional<FileId> id();
    std::uint64_t linkCount();                // 0 on failure
    // Gives `to` this file's owner and group; 0 or errno (EPERM when the
    // process may not give that owner).
    int copyOwnerTo(PosixFile& to);
    // Copies every extended attribute (ACLs included) onto `to`; 0 or errno.
    int copyExtendedAttributesTo(PosixFile& to);
    // Closes the descriptor; returns false when close() reported an error
    // (a delayed write failure on some file systems).
    bool close();

private:
    explicit PosixFile(int fd, int err) : m_fd(fd), m_error(err) {}
    static PosixFile openChecked(const std::string& path, Mode mode, bool pipesToo);
    int m_fd = -1;
    int m_error = 0;
};

// A temporary file created beside a given path. Where the file system allows
// it the file has no name until commitTo() (O_TMPFILE), so neither SIGKILL nor
// a power cut can leave it behind; otherwise it has a unique name starting
// with ".morvik-". A named file is removed when the object goes away unless
// commitTo() moved it over its target, and also when SIGINT, SIGTERM or
// SIGHUP end the process while it exists.
class TempFileBeside {
public:
    // Creates the file in the folder of `target`. Check valid().
    explicit TempFileBeside(const std::string& target);
    TempFileBeside(const TempFileBeside&) = delete;
    TempFileBeside& operator=(const TempFileBeside&) = delete;
    ~TempFileBeside();

    bool valid() const { return m_file.valid(); }
    int error() const { return m_error; }
    PosixFile& file() { return m_file; }
    // The name the file has, or will have for the moment of the commit.
    const std::string& path() const { return m_path; }
    // Flushes, closes and renames the temporary file over `target` in one
    // step, then flushes the folder so that the rename survives a power cut.
    // On failure the temporary file is removed and the target kept.
    bool commitTo(const std::string& target);

private:
    bool giveName();
    PosixFile m_file;
    std::string m_path;
    int m_error = 0;
    bool m_named = false;
    bool m_committed = false;
};

// Moves `from` to `to` only when `to` does not exist. Returns 0 or an errno
// value (EEXIST when the target is present).
int renameNoReplace(const std::string& from, const std::string& to);

// The folder part of a path including its last "/" ("/a/b.mp3" gives "/a/"),
// or "./" when the path has no "/".
std::string folderOf(const std::string& path);

// Flushes a folder's entries (a rename or a removal in it) to the disk.
// Returns 0 or errno.
int syncFolder(const std::string& folder);

// The path with every symbolic link resolved, or nullopt (errno in *err).
std::optional<std::string> resolvedPath(const std::string& path, int* err = nullptr);

// The identity of the file a path names now (following links).
std::optional<FileId> fileIdOf(const std::string& path);

// Removes a file's name; 0 or errno.
int removeFile(const std::string& path);

// Creates a folder and the folders above it that are missing (0755); 0 or
// errno.
int makeFolders(const std::string& path);

// Whether the process may create files in a folder.
bool folderIsWritable(const std::string& folder);

} // namespace morvik
