// Buffered reading of an MP3 stream through a ring: callers ask for n bytes
// contiguous in memory (Need), look at them in place (Data) and consume what
// they used (Skip). Reads go to the stream in chunks of 16384 bytes or more,
// never wrapping inside one read; long skips on a seekable stream become
// seeks. The reader does not own its stream.
#pragma once

#include <cstdint>
#include <memory>

#include "compo/stream.h"

namespace morvik {

class TMPStreamReader {
public:
    static constexpr std::int32_t ReadChunk = 16384;

    explicit TMPStreamReader(std::int32_t capacity);
    ~TMPStreamReader();
    TMPStreamReader(const TMPStreamReader&) = delete;
    TMPStreamReader& operator=(const TMPStreamReader&) = delete;

    // Position 0 is wherever the stream stands now.
    void Attach(TMPStream* stream, bool seekable);
    void Detach();

    bool Fill(std::int32_t n);
    bool FillMore();
    bool Need(std::int32_t n);
    const std::uint8_t* Data() const { return m_buffer.get() + m_head; }
    bool Skip(std::int64_t n);
    std::int64_t Seek(std::int64_t offset, TMPSeekOrigin origin);

    TMPStream* Stream() const { return m_stream; }
    std::int64_t Size() const { return m_size; }
    bool Seekable() const { return m_seekable; }
    bool Attached() const { return m_attached; }
    std::int32_t Head() const { return m_head; }
    std::int32_t Count() const { return m_count; }
    std::int32_t Capacity() const { return m_capacity; }
    std::int64_t Position() const { return m_position; }
    // Unconsumed bytes readable from Data() without wrapping.
    std::int32_t Contiguous() const { return m_contiguous; }

private:
    struct AlignedFree {
        void operator()(std::uint8_t* p) const;
    };

    void linearise();
    void consumeBuffered(std::int32_t n);
    void updateContiguous();

    TMPStream* m_stream = nullptr;
    std::int64_t m_size = 0;
    bool m_seekable = false;
    bool m_attached = false;
    std::unique_ptr<std::uint8_t[], AlignedFree> m_buffer;
    std::int32_t m_head = 0;
    std::int32_t m_count = 0;
    std::int32_t m_capacity = 0;
    std::int64_t m_position = 0;
    std::int32_t m_contiguous = 0;
};

} // namespace morvik
