// Files on POSIX: an owning descriptor with the few operations the tag code
// and the stream reader need, a temporary file that removes itself unless it
// is kept, and a rename that never replaces an existing file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace morvik {

// The system's text for an errno value ("No space left on device").
std::string systemErrorText(int err);

class PosixFile {
public:
    enum class Mode { ReadOnly, ReadWrite };

    PosixFile() = default;
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;
    PosixFile(PosixFile&& other) noexcept;
    PosixFile& operator=(PosixFile&& other) noexcept;
    ~PosixFile();

    // Opens an existing file. Never throws: on failure the result is invalid
    // and lastError() holds errno.
    static PosixFile open(const std::string& path, Mode mode);
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
    // Closes the descriptor; returns false when close() reported an error
    // (a delayed write failure on some file systems).
    bool close();

private:
    explicit PosixFile(int fd, int err) : m_fd(fd), m_error(err) {}
    int m_fd = -1;
    int m_error = 0;
};

// A uniquely named file created beside a given path. The file is removed when
// the object goes away unless commitTo() moved it over its target.
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
    const std::string& path() const { return m_path; }
    // Flushes, closes and renames the temporary file over `target` in one
    // step. On failure the temporary file is removed and the target kept.
    bool commitTo(const std::string& target);

private:
    PosixFile m_file;
    std::string m_path;
    int m_error = 0;
    bool m_committed = false;
};

// Moves `from` to `to` only when `to` does not exist. Returns 0 or an errno
// value (EEXIST when the target is present).
int renameNoReplace(const std::string& from, const std::string& to);

// The folder part of a path including its last "/" ("/a/b.mp3" gives "/a/"),
// or "./" when the path has no "/".
std::string folderOf(const std::string& path);

} // namespace morvik
