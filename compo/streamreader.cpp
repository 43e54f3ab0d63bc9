#include "compo/streamreader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace morvik {

namespace {

constexpr std::align_val_t BufferAlignment{8};

} // namespace

void TMPStreamReader::AlignedFree::operator()(std::uint8_t* p) const
{
    ::operator delete[](p, BufferAlignment);
}

TMPStreamReader::TMPStreamReader(std::int32_t capacity) : m_capacity(capacity)
{
    MP_ASSERT(capacity > 0);
}

TMPStreamReader::~TMPStreamReader() { Detach(); }

void TMPStreamReader::Attach(TMPStream* stream, bool seekable)
{
    MP_ASSERT(stream != nullptr);
    Detach();
    try {
        m_attached = true;
        m_stream = stream;
        m_seekable = seekable;
        m_position = 0;
        m_contiguous = 0;
        m_head = 0;
        m_count = 0;
        auto* raw = static_cast<std::uint8_t*>(::operator new[](static_cast<std::size_t>(m_capacity), BufferAlignment));
        m_buffer.reset(raw);
        if (seekable)
            m_size = stream->Size();
    } catch (...) {
        Detach();
        throw;
    }
}

void TMPStreamReader::Detach()
{
    if (!m_attached)
        return;
    m_stream = nullptr;
    m_contiguous = 0;
    m_size = 0;
    m_head = 0;
    m_count = 0;
    m_buffer.reset();
    m_attached = false;
}

void TMPStreamReader::updateContiguous()
{
    m_contiguous = m_head + m_count > m_capacity ? m_capacity - m_head : m_count;
}

bool TMPStreamReader::Fill(std::int32_t n)
{
    MP_ASSERT(m_stream != nullptr);
    MP_ASSERT(n >= 0 && n <= m_capacity);
    MP_ASSERT(m_buffer != nullptr);
    while (m_count < n) {
        const std::int32_t room = m_capacity - m_count;
        std::int32_t chunk = n - m_count;
        if (chunk < ReadChunk)
            chunk = room >= ReadChunk ? ReadChunk : room;
        const std::int32_t writeIndex = (m_head + m_count) % m_capacity;
        chunk = std::min(chunk, m_capacity - writeIndex);
        const std::int64_t got = m_stream->Read(m_buffer.get() + writeIndex, chunk);
        if (got <= 0)
            break;
        m_count += static_cast<std::int32_t>(std::min<std::int64_t>(got, chunk));
    }
    updateContiguous();
    return m_count >= n;
}

bool TMPStreamReader::FillMore()
{
    MP_ASSERT(m_stream != nullptr);
    if (m_count >= m_capacity)
        return false;
    return Fill(m_count + std::min(m_capacity - m_count, ReadChunk));
}

bool TMPStreamReader::Need(std::int32_t n)
{
    MP_ASSERT(m_stream != nullptr);
    if (n >= 0 && n <= m_contiguous)
        return true; // already buffered in one piece
    if (!Fill(n))
        return false;
    if (m_contiguous < n)
        linearise();
    return true;
}

void TMPStreamReader::linearise()
{
    std::uint8_t* buffer = m_buffer.get();
    const std::int32_t tail = m_capacity - m_head;
    const std::int32_t wrap = m_head + m_count - m_capacity;
    if (wrap <= 0) {
        std::memmove(buffer, buffer + m_head, static_cast<std::size_t>(m_count));
    } else if (m_head > m_count) {
        // The free gap between the wrapped part and Head holds both moves.
        std::memmove(buffer + tail, buffer, static_cast<std::size_t>(wrap));
        std::memmove(buffer, buffer + m_head, static_cast<std::size_t>(tail));
    } else {
        std::vector<std::uint8_t> saved(buffer + m_head, buffer + m_capacity);
        std::memmove(buffer + tail, buffer, static_cast<std::size_t>(wrap));
        std::memcpy(buffer, saved.data(), saved.size());
    }
    m_head = 0;
    m_contiguous = m_count;
}

void TMPStreamReader::consumeBuffered(std::int32_t n)
{
    m_count -= n;
    m_head = (m_head + n) % m_capacity;
    m_position += n;
    // Keep Contiguous from promising bytes the skip has consumed.
    updateContiguous();
}

bool TMPStreamReader::Skip(std::int64_t n)
{
    MP_ASSERT(m_stream != nullptr);
    MP_ASSERT(n >= 0);
    if (n <= m_count) {
        consumeBuffered(static_cast<std::int32_t>(n));
        return true;
    }
    if (m_seekable) {
        if (n <= m_size - m_position) {
            Seek(n, soFromCurrent);
            return true;
        }
        Seek(0, soFromEnd);
        return false;
    }
    while (Fill(1)) {
        Fill(m_capacity);
        if (n <= m_count) {
            consumeBuffered(static_cast<std::int32_t>(n));
            return true;
        }
        m_position += m_count;
        n -= m_count;
        m_count = 0;
        m_head = 0;
        m_contiguous = 0;
    }
    return false;
}

std::int64_t TMPStreamReader::Seek(std::int64_t offset, TMPSeekOrigin origin)
{
    MP_ASSERT(m_stream != nullptr);
    MP_ASSERT(m_seekable);
    // The stream stands Count bytes ahead of Position.
    const std::int64_t streamOffset = origin == soFromCurrent ? offset - m_count : offset;
    m_position = m_stream->Seek(streamOffset, origin);
    m_head = 0;
    m_count = 0;
    m_contiguous = 0;
    return m_position;
}

} // namespace morvik
