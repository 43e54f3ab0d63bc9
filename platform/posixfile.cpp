#include "platform/posixfile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

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

PosixFile PosixFile::open(const std::string& path, Mode mode)
{
    const int flags = (mode == Mode::ReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC;
    const int fd = ::open(path.c_str(), flags);
    return PosixFile(fd, fd < 0 ? errno : 0);
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

TempFileBeside::TempFileBeside(const std::string& target)
{
    std::string pattern = folderOf(target) + ".morvik-XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        m_error = errno;
        return;
    }
    m_path = pattern;
    m_file = PosixFile::adopt(fd);
}

TempFileBeside::~TempFileBeside()
{
    if (!m_committed && !m_path.empty()) {
        m_file.close();
        ::unlink(m_path.c_str());
    }
}

bool TempFileBeside::commitTo(const std::string& target)
{
    if (!m_file.valid()) {
        m_error = EBADF;
        return false;
    }
    if (!m_file.syncToDisk() || !m_file.close()) {
        m_error = m_file.lastError();
        return false;
    }
    if (::rename(m_path.c_str(), target.c_str()) != 0) {
        m_error = errno;
        return false;
    }
    m_committed = true;
    return true;
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
