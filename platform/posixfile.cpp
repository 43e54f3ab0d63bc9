#include "platform/posixfile.h"

#include "platform/signals.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace morvik {

std::string systemErrorText(int err)
{
    char buffer[256];
    // The GNU strerror_r returns the text, which may or may not be `buffer`.
    const char* text = strerror_r(err, buffer, sizeof buffer);
    return text ? std::string(text) : std::string("error ") + std::to_string(err);
}

PosixFile::PosixFile(PosixFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_error(other.m_error)
{
}

PosixFile& PosixFile::operator=(PosixFile&& other) noexcept
{
    if (this != &other) {
        close();
        m_fd = std::exchange(other.m_fd, -1);
        m_error = other.m_error;
    }
    return *this;
}

PosixFile::~PosixFile() { close(); }

PosixFile PosixFile::open(const std::string& path, Mode mode) { return openChecked(path, mode, true); }

PosixFile PosixFile::openRegular(const std::string& path, Mode mode) { return openChecked(path, mode, false); }

PosixFile PosixFile::openChecked(const std::string& path, Mode mode, bool pipesToo)
{
    // O_NONBLOCK: opening a FIFO without a writer would wait forever. It is
    // cleared once the file is open, so reads of a pipe wait for data.
    const int flags = (mode == Mode::ReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0)
        return PosixFile(-1, errno);
    struct stat st {};
    const bool ok = ::fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || (pipesToo && S_ISFIFO(st.st_mode)));
    if (!ok) {
        const bool folder = S_ISDIR(st.st_mode);
        ::close(fd);
        return PosixFile(-1, folder ? EISDIR : kNotARegularFile);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return PosixFile(fd, 0);
}

PosixFile PosixFile::create(const std::string& path, unsigned permissions)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, permissions);
    return PosixFile(fd, fd < 0 ? errno : 0);
}

PosixFile PosixFile::adopt(int fd) { return PosixFile(fd, 0); }

std::int64_t PosixFile::size()
{
    struct stat st;
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0) {
        m_error = m_fd < 0 ? EBADF : errno;
        return -1;
    }
    return st.st_size;
}

bool PosixFile::seek(std::int64_t offset)
{
    if (m_fd < 0 || offset < 0 || ::lseek(m_fd, offset, SEEK_SET) < 0) {
        m_error = m_fd < 0 ? EBADF : (offset < 0 ? EINVAL : errno);
        return false;
    }
    return true;
}

bool PosixFile::seekToEnd()
{
    if (m_fd < 0 || ::lseek(m_fd, 0, SEEK_END) < 0) {
        m_error = m_fd < 0 ? EBADF : errno;
        return false;
    }
    return true;
}

std::int64_t PosixFile::position()
{
    if (m_fd < 0)
        return -1;
    return ::lseek(m_fd, 0, SEEK_CUR);
}

std::size_t PosixFile::read(void* buffer, std::size_t n)
{
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    m_error = 0;
    while (m_fd >= 0 && done < n) {
        const ssize_t got = ::read(m_fd, out + done, n - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            m_error = errno;
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

bool PosixFile::write(const void* buffer, std::size_t n)
{
    const auto* in = static_cast<const unsigned char*>(buffer);
    std::size_t done = 0;
    m_error = 0;
    if (m_fd < 0) {
        m_error = EBADF;
        return false;
    }
    while (done < n) {
        const ssize_t put = ::write(m_fd, in + done, n - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            m_error = put < 0 ? errno : ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

bool PosixFile::readAt(std::int64_t offset, void* buffer, std::size_t n, std::size_t* got)
{
    *got = 0;
    if (!seek(offset))
        return false;
    *got = read(buffer, n);
    return true;
}

bool PosixFile::writeAt(std::int64_t offset, const void* buffer, std::size_t n)
{
    return seek(offset) && write(buffer, n);
}

std::optional<timespec> PosixFile::modificationTime()
{
    struct stat st;
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0)
        return std::nullopt;
    return st.st_mtim;
}

bool PosixFile::setModificationTime(const timespec& t)
{
    // The access time is left as it is.
    const timespec times[2] = {{0, UTIME_OMIT}, t};
    return m_fd >= 0 && ::futimens(m_fd, times) == 0;
}

bool PosixFile::setPermissions(unsigned mode)
{
    return m_fd >= 0 && ::fchmod(m_fd, mode) == 0;
}

std::optional<unsigned> PosixFile::permissions()
{
    struct stat st;
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0)
        return std::nullopt;
    return static_cast<unsigned>(st.st_mode & 07777);
}

bool PosixFile::syncToDisk()
{
    if (m_fd < 0 || ::fsync(m_fd) != 0) {
        m_error = m_fd < 0 ? EBADF : errno;
        return false;
    }
    return true;
}

bool PosixFile::truncate(std::int64_t length)
{
    while (m_fd >= 0 && ::ftruncate(m_fd, length) != 0) {
        if (errno != EINTR) {
            m_error = errno;
            return false;
        }
    }
    if (m_fd < 0)
        m_error = EBADF;
    return m_fd >= 0;
}

bool PosixFile::reserve(std::int64_t offset, std::int64_t length)
{
    if (length <= 0)
        return true;
    if (m_fd < 0) {
        m_error = EBADF;
        return false;
    }
    if (::fallocate(m_fd, 0, offset, length) == 0)
        return true;
    const int err = errno;
    if (err == EOPNOTSUPP || err == ENOSYS)
        return true;
    m_error = err;
    return false;
}

namespace {

std::optional<FileId> idOf(int dirFd, const char* path, int flags)
{
    struct statx sx {};
    if (::statx(dirFd, path, flags, STATX_INO | STATX_BTIME, &sx) != 0)
        return std::nullopt;
    FileId id;
    id.device = (std::uint64_t{sx.stx_dev_major} << 32) | sx.stx_dev_minor;
    id.inode = sx.stx_ino;
    if (sx.stx_mask & STATX_BTIME) {
        id.birthSeconds = sx.stx_btime.tv_sec;
        id.birthNanoseconds = sx.stx_btime.tv_nsec;
    }
    return id;
}

} // namespace

std::optional<FileId> PosixFile::id()
{
    if (m_fd < 0)
        return std::nullopt;
    return idOf(m_fd, "", AT_EMPTY_PATH);
}

std::uint64_t PosixFile::linkCount()
{
    struct stat st;
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0)
        return 0;
    return static_cast<std::uint64_t>(st.st_nlink);
}

int PosixFile::copyOwnerTo(PosixFile& to)
{
    struct stat mine, theirs;
    if (m_fd < 0 || to.m_fd < 0)
        return EBADF;
    if (::fstat(m_fd, &mine) != 0 || ::fstat(to.m_fd, &theirs) != 0)
        return errno;
    if (mine.st_uid == theirs.st_uid && mine.st_gid == theirs.st_gid)
        return 0;
    return ::fchown(to.m_fd, mine.st_uid, mine.st_gid) == 0 ? 0 : errno;
}

int PosixFile::copyExtendedAttributesTo(PosixFile& to)
{
    if (m_fd < 0 || to.m_fd < 0)
        return EBADF;
    const ssize_t listSize = ::flistxattr(m_fd, nullptr, 0);
    if (listSize < 0)
        return (errno == ENOTSUP || errno == ENOSYS) ? 0 : errno;
    std::vector<char> names(static_cast<std::size_t>(listSize) + 1);
    const ssize_t got = ::flistxattr(m_fd, names.data(), names.size());
    if (got < 0)
        return errno;
    std::vector<char> value;
    for (std::size_t at = 0; at < static_cast<std::size_t>(got); at += std::strlen(names.data() + at) + 1) {
        const char* name = names.data() + at;
        const ssize_t n = ::fgetxattr(m_fd, name, nullptr, 0);
        if (n < 0)
            return errno;
        value.resize(static_cast<std::size_t>(n) + 1);
        const ssize_t read = ::fgetxattr(m_fd, name, value.data(), value.size());
        if (read < 0)
            return errno;
        if (::fsetxattr(to.m_fd, name, value.data(), static_cast<std::size_t>(read), 0) != 0)
            return errno;
    }
    return 0;
}

bool PosixFile::close()
{
    if (m_fd < 0)
        return true;
    const int fd = std::exchange(m_fd, -1);
    if (::close(fd) != 0) {
        m_error = errno;
        return false;
    }
    return true;
}

std::string folderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

namespace {

std::string uniqueName(const std::string& folder)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static thread_local std::mt19937_64 random{std::random_device{}()};
    std::string name = folder + ".morvik-";
    for (int i = 0; i < 10; ++i)
        name += letters[random() % (sizeof letters - 1)];
    return name;
}

} // namespace

TempFileBeside::TempFileBeside(const std::string& target)
{
    const std::string folder = folderOf(target);
    const int unnamed = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (unnamed >= 0) {
        m_path = uniqueName(folder);
        m_file = PosixFile::adopt(unnamed);
        return;
    }
    // File systems without O_TMPFILE: a named file, removed on the way out.
    std::string pattern = folder + ".morvik-XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        m_error = errno;
        return;
    }
    m_path = pattern;
    m_named = true;
    removeOnSignal(m_path);
    m_file = PosixFile::adopt(fd);
}

TempFileBeside::~TempFileBeside()
{
    if (!m_committed && m_named) {
        m_file.close();
        ::unlink(m_path.c_str());
        clearRemoveOnSignal();
    }
}

// Links the unnamed file into its folder under m_path, just before the
// rename, so that a complete file is all that can ever appear.
bool TempFileBeside::giveName()
{
    if (m_named)
        return true;
    const std::string self = "/proc/self/fd/" + std::to_string(m_file.descriptor());
    for (int attempt = 0; attempt < 16; ++attempt) {
        removeOnSignal(m_path);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, m_path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            m_named = true;
            return true;
        }
        clearRemoveOnSignal();
        if (errno != EEXIST) {
            m_error = errno;
            return false;
        }
        m_path = uniqueName(folderOf(m_path));
    }
    m_error = EEXIST;
    return false;
}

bool TempFileBeside::commitTo(const std::string& target)
{
    if (!m_file.valid()) {
        m_error = EBADF;
        return false;
    }
    if (!m_file.syncToDisk()) {
        m_error = m_file.lastError();
        return false;
    }
    // The name is given just before the rename and the descriptor closed
    // only after it, so that the named moment is as short as it can be:
    // only a SIGKILL between the two calls can leave the file behind.
    if (!giveName())
        return false;
    if (::rename(m_path.c_str(), target.c_str()) != 0) {
        m_error = errno;
        return false;
    }
    m_committed = true;
    clearRemoveOnSignal();
    // The data was flushed by the fsync above; the file is in place.
    m_file.close();
    syncFolder(folderOf(target));
    return true;
}

int syncFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int err = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    // Some file systems cannot flush a folder; the rename stands regardless.
    return err == EINVAL ? 0 : err;
}

std::optional<std::string> resolvedPath(const std::string& path, int* err)
{
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) {
        if (err)
            *err = errno;
        return std::nullopt;
    }
    std::string out(resolved);
    std::free(resolved);
    return out;
}

std::optional<FileId> fileIdOf(const std::string& path)
{
    return idOf(AT_FDCWD, path.c_str(), 0);
}

int removeFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

int makeFolders(const std::string& path)
{
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (!part.empty() && ::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            return errno;
        if (slash == std::string::npos)
            return 0;
    }
}

bool folderIsWritable(const std::string& folder)
{
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

int renameNoReplace(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    const int err = errno;
    if (err != EINVAL && err != ENOSYS && err != ENOTSUP)
        return err;
    // File systems without RENAME_NOREPLACE: link() refuses an existing
    // target just as well, then the old name goes.
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno;
    if (::unlink(from.c_str()) != 0) {
        const int unlinkErr = errno;
        ::unlink(to.c_str());
        return unlinkErr;
    }
    return 0;
}

} // namespace morvik
