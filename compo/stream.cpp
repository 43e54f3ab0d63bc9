#include "compo/stream.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/posixfile.h"

namespace morvik {

namespace {

std::int64_t seekTarget(std::int64_t offset, TMPSeekOrigin origin, std::int64_t current, std::int64_t size)
{
    std::int64_t base = 0;
    switch (origin) {
    case soFromBeginning: base = 0; break;
    case soFromCurrent: base = current; break;
    case soFromEnd: base = size; break;
    }
    if (offset < 0 && base + offset < 0)
        throw EMPStreamError("Stream seek error: position before the start of the stream");
    if (offset > 0 && base > std::numeric_limits<std::int64_t>::max() - offset)
        throw EMPStreamError("Stream seek error: position out of range");
    return base + offset;
}

} // namespace

TMPFileStream::TMPFileStream(const std::string& path)
    : m_file(std::make_unique<PosixFile>(PosixFile::open(path, PosixFile::Mode::ReadOnly))), m_path(path)
{
    if (!m_file->valid())
        throw EMPStreamError("Cannot open file \"" + path + "\". " + systemErrorText(m_file->lastError()),
                             m_file->lastError());
}

TMPFileStream::~TMPFileStream() = default;

std::int64_t TMPFileStream::Read(void* buffer, std::int64_t count)
{
    if (count <= 0)
        return 0;
    const std::size_t got = m_file->read(buffer, static_cast<std::size_t>(count));
    if (got == 0 && m_file->lastError() != 0)
        throw EMPStreamError("Read error on \"" + m_path + "\". " + systemErrorText(m_file->lastError()),
                             m_file->lastError());
    m_position += static_cast<std::int64_t>(got);
    return static_cast<std::int64_t>(got);
}

std::int64_t TMPFileStream::Seek(std::int64_t offset, TMPSeekOrigin origin)
{
    const std::int64_t size = origin == soFromEnd ? Size() : 0;
    const std::int64_t target = seekTarget(offset, origin, m_position, size);
    if (!m_file->seek(target))
        throw EMPStreamError("Seek error on \"" + m_path + "\". " + systemErrorText(m_file->lastError()),
                             m_file->lastError());
    m_position = target;
    return m_position;
}

std::int64_t TMPFileStream::Size()
{
    const std::int64_t size = m_file->size();
    if (size < 0)
        throw EMPStreamError("Cannot get the size of \"" + m_path + "\". " + systemErrorText(m_file->lastError()),
                             m_file->lastError());
    return size;
}

TMPMemoryStream::TMPMemoryStream(std::string bytes) : m_bytes(std::move(bytes)) {}

std::int64_t TMPMemoryStream::Read(void* buffer, std::int64_t count)
{
    const auto size = static_cast<std::int64_t>(m_bytes.size());
    if (count <= 0 || m_position >= size)
        return 0;
    const std::int64_t n = std::min(count, size - m_position);
    std::memcpy(buffer, m_bytes.data() + m_position, static_cast<std::size_t>(n));
    m_position += n;
    return n;
}

std::int64_t TMPMemoryStream::Seek(std::int64_t offset, TMPSeekOrigin origin)
{
    m_position = seekTarget(offset, origin, m_position, static_cast<std::int64_t>(m_bytes.size()));
    return m_position;
}

std::int64_t TMPMemoryStream::Size() { return static_cast<std::int64_t>(m_bytes.size()); }

} // namespace morvik
