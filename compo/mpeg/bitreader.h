// Bit cursor over a byte buffer, most significant bit first, used by every
// layer.
//
// At the end of its buffer: the reader never loads a byte at or past
// `start + size`; bits from there on read as zeros, for as long as the
// caller keeps reading, and BitPosition() keeps counting them. A frame cut
// short therefore decodes as if it were followed by zero bytes.
//
// Apart from the buffer, a caller may set a data end (BitReaderSetEnd) that
// stops nothing: pastEnd() reports after the fact that the reader has loaded
// a byte at or past it, and the caller compares after a unit of data.
//
// The window is topped up in whole bytes, and only when a read needs more
// bits than it holds: GetBits, ReadBitsRefill and PeekBits top it up to
// more than 24 bits (Layer III, whose data-end margin is reckoned on that),
// GetWideBits to at least 56 (Layers I and II, fewer loads for their long
// runs of fields). Which bytes have been loaded, and with it pastEnd(),
// therefore depends only on the sequence of reads, never on the data. While
// the buffer has 4 (or 8) bytes left, a top-up is one load; only the last
// bytes take the zero-filling path.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace morvik::mpeg {

template <bool tracked>
class HuffmanCursor;

class BitReader {
public:
    // Reads the `size` bytes at `data` from their first bit.
    void BitReaderStart(const std::uint8_t* data, std::int32_t size)
    {
        m_start = data;
        m_size = size;
        m_next = 0;
        m_endMark = size;
        m_window = 0;
        m_valid = 0;
    }
    // The data end that pastEnd() reports (a byte of the buffer, or the
    // byte just past it).
    void BitReaderSetEnd(const std::uint8_t* end) { m_endMark = end - m_start; }

    // Bits consumed since the start, zero bits past the buffer included.
    int BitPosition() const { return static_cast<int>(m_next * 8 - m_valid); }
    // Bytes loaded into the window so far (counting those past the buffer).
    int bytesLoaded() const { return static_cast<int>(m_next); }
    bool pastEnd() const { return m_next > m_endMark; }

    // Next n bits (0 <= n <= 25).
    std::uint32_t GetBits(int n)
    {
        if (n > m_valid)
            topUp();
        return take(n);
    }

    // As GetBits, topping up only when fewer than n + 2 bits are held
    // (n <= 23).
    std::uint32_t ReadBitsRefill(int n)
    {
        if (m_valid < n + 2)
            topUp();
        return take(n);
    }

    // The next n bits (1 <= n <= 11) without consuming them.
    std::uint32_t PeekBits(int n)
    {
        if (m_valid < 11)
            topUp();
        return static_cast<std::uint32_t>(m_window >> (64 - n));
    }

    // Consumes n bits already held (after PeekBits).
    void skipHeld(int n)
    {
        m_valid -= n;
        m_window <<= n;
    }

    // Next n bits (0 <= n <= 32), topping up to at least 56 bits.
    std::uint32_t GetWideBits(int n)
    {
        if (n > m_valid)
            topUpWide();
        return take(n);
    }

private:
    // The Layer III Huffman decoder reads through a cursor of its own that
    // keeps these fields exactly as the reads above would leave them.
    template <bool tracked>
    friend class HuffmanCursor;

    // To 25..32 bits held; m_valid <= 24 on entry, as the reads above
    // guarantee.
    void topUp()
    {
        const int bytes = (32 - m_valid) >> 3;  // 1..4
        if (m_size - m_next >= 4) [[likely]] {
            std::uint32_t word;
            std::memcpy(&word, m_start + m_next, sizeof word);
            if constexpr (std::endian::native == std::endian::little)
                word = __builtin_bswap32(word);
            // The word's first bits go just below the held ones.
            m_window |= static_cast<std::uint64_t>(word >> (32 - 8 * bytes)) << (64 - m_valid - 8 * bytes);
            m_next += bytes;
            m_valid += 8 * bytes;
        } else {
            loadNearEnd(bytes);
        }
    }

    // To 56..63 bits held; m_valid < 32 on entry.
    void topUpWide()
    {
        const int bytes = (63 - m_valid) >> 3;  // 4..7
        if (m_size - m_next >= 8) [[likely]] {
            std::uint64_t word;
            std::memcpy(&word, m_start + m_next, sizeof word);
            if constexpr (std::endian::native == std::endian::little)
                word = __builtin_bswap64(word);
            m_window |= (word >> (64 - 8 * bytes)) << (64 - m_valid - 8 * bytes);
            m_next += bytes;
            m_valid += 8 * bytes;
        } else {
            loadNearEnd(bytes);
        }
    }

    void loadNearEnd(int bytes)
    {
        for (int i = 0; i < bytes; ++i, ++m_next, m_valid += 8) {
            const std::uint64_t byte = m_next < m_size ? m_start[m_next] : 0;
            m_window |= byte << (56 - m_valid);
        }
    }

    // The top n held bits (n <= 32; none for n = 0: the shift is split in
    // two so that neither reaches 64).
    std::uint32_t topBits(int n) const { return static_cast<std::uint32_t>((m_window >> 1) >> (63 - n)); }

    std::uint32_t take(int n)
    {
        const std::uint32_t result = topBits(n);
        m_valid -= n;
        m_window <<= n;
        return result;
    }

    const std::uint8_t* m_start = nullptr;
    std::int64_t m_size = 0;
    std::int64_t m_next = 0;  // next byte to load; may pass m_size
    std::int64_t m_endMark = 0;
    int m_valid = 0;
    // The held bits at the top, the next one highest; the bits below them
    // are zero.
    std::uint64_t m_window = 0;
};

} // namespace morvik::mpeg
