// The byte streams the player reads from: a small interface (read, seek,
// size) with a file stream and an in-memory stream. Positions and sizes are
// 64-bit so files over 2 GiB behave.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "compo/mpassert.h"

namespace morvik {

class PosixFile;

enum TMPSeekOrigin : int { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

// Raised by streams when the underlying storage fails.
class EMPStreamError : public EMPError {
public:
    explicit EMPStreamError(const std::string& message, int systemError = 0)
        : EMPError(message), m_systemError(systemError)
    {
    }
    // The errno value of the failure; 0 when the system reported none.
    int SystemError() const { return m_systemError; }

private:
    int m_systemError;
};

class TMPStream {
public:
    virtual ~TMPStream() = default;
    // Reads up to `count` bytes; returns how many were read, 0 at the end.
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    // Moves the position and returns the new one. A target before the start
    // raises EMPStreamError; a target past the end is allowed (reads give 0).
    virtual std::int64_t Seek(std::int64_t offset, TMPSeekOrigin origin) = 0;
    virtual std::int64_t Size() = 0;
};

// A file opened for reading. The constructor raises EMPStreamError with the
// system's reason when the file cannot be opened.
class TMPFileStream : public TMPStream {
public:
    explicit TMPFileStream(const std::string& path);
    ~TMPFileStream() override;
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TMPSeekOrigin origin) override;
    std::int64_t Size() override;

private:
    std::unique_ptr<PosixFile> m_file;
    std::string m_path;
    std::int64_t m_position = 0;
};

// A stream over bytes held in memory (a copy made at construction).
class TMPMemoryStream : public TMPStream {
public:
    explicit TMPMemoryStream(std::string bytes);
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TMPSeekOrigin origin) override;
    std::int64_t Size() override;
    std::int64_t Position() const { return m_position; }

private:
    std::string m_bytes;
    std::int64_t m_position = 0;
};

} // namespace morvik
