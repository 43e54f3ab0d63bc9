// Bit cursor over a byte buffer, most significant bit first. The reader
// never checks its end itself: callers compare `current` with `end` after a
// unit of data, and the buffers it reads carry slack past their valid bytes.
#pragma once

#include <cstdint>

namespace morvik::mpeg {

struct BitReader {
    const std::uint8_t* current = nullptr;
    const std::uint8_t* start = nullptr;
    const std::uint8_t* end = nullptr;
    std::uint32_t window = 0;  // only the lowest `valid` bits may be set
    int valid = 0;

    void BitReaderStart(const std::uint8_t* p)
    {
        start = current = p;
        window = 0;
        valid = 0;
    }
    void BitReaderSetEnd(const std::uint8_t* p) { end = p; }
    int BitPosition() const { return static_cast<int>(current - start) * 8 - valid; }
    bool pastEnd() const { return current > end; }

    // Refills one byte at a time until more than 24 bits are held.
    void refill()
    {
        do {
            window = (window << 8) | *current++;
            valid += 8;
        } while (valid <= 24);
    }

    // Next n bits (0 <= n <= 25).
    std::uint32_t GetBits(int n)
    {
        if (n > valid)
            refill();
        return take(n);
    }

    // As GetBits, refilling only when fewer than n + 2 bits are held.
    std::uint32_t ReadBitsRefill(int n)
    {
        if (valid < n + 2)
            refill();
        return take(n);
    }

    // The next n bits (n <= 11) without consuming them.
    std::uint32_t PeekBits(int n)
    {
        if (valid < 11)
            refill();
        return window >> (valid - n);
    }

    // Consumes n bits already held (after PeekBits).
    void skipHeld(int n)
    {
        valid -= n;
        window &= (std::uint32_t{1} << valid) - 1;
    }

private:
    std::uint32_t take(int n)
    {
        valid -= n;
        const std::uint32_t result = window >> valid;
        window -= result << valid;
        return result;
    }
};

} // namespace morvik::mpeg
