// Reading and writing integers in the byte orders of the file formats we
// handle: big-endian words (ID3v2 frame sizes, Xing/VBRI counts, MacBinary
// and RIFF lengths) and the 28-bit "syncsafe" sizes of ID3v2, whose four
// bytes carry seven bits each. One helper per job; every parser uses these.
// The raw forms take a pointer the caller has already checked for room; the
// `...At` forms check the bounds themselves.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace morvik::bytes {

// char, signed char, unsigned char and std::uint8_t buffers alike.
template <class T>
concept Byte = std::integral<T> && sizeof(T) == 1;

template <Byte B>
constexpr std::uint8_t at(const B* p, std::size_t i)
{
    return static_cast<std::uint8_t>(p[i]);
}

template <Byte B>
constexpr std::uint16_t bigEndian16(const B* p)
{
    return static_cast<std::uint16_t>(at(p, 0) << 8 | at(p, 1));
}

template <Byte B>
constexpr std::uint32_t bigEndian24(const B* p)
{
    return std::uint32_t{at(p, 0)} << 16 | std::uint32_t{at(p, 1)} << 8 | at(p, 2);
}

template <Byte B>
constexpr std::uint32_t bigEndian32(const B* p)
{
    return std::uint32_t{at(p, 0)} << 24 | std::uint32_t{at(p, 1)} << 16 | std::uint32_t{at(p, 2)} << 8 | at(p, 3);
}

template <Byte B>
constexpr std::uint32_t littleEndian32(const B* p)
{
    return std::uint32_t{at(p, 3)} << 24 | std::uint32_t{at(p, 2)} << 16 | std::uint32_t{at(p, 1)} << 8 | at(p, 0);
}

// The low seven bits of each of four bytes, most significant first. The
// high bits are ignored; isSyncSafe tells whether they were all clear.
template <Byte B>
constexpr std::uint32_t syncSafe28(const B* p)
{
    return std::uint32_t{at(p, 0) & 0x7Fu} << 21 | std::uint32_t{at(p, 1) & 0x7Fu} << 14 |
           std::uint32_t{at(p, 2) & 0x7Fu} << 7 | (at(p, 3) & 0x7Fu);
}

template <Byte B>
constexpr bool isSyncSafe(const B* p, std::size_t n = 4)
{
    for (std::size_t i = 0; i < n; ++i)
        if (at(p, i) & 0x80u)
            return false;
    return true;
}

template <Byte B>
constexpr void putBigEndian32(B* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<B>(v >> (24 - 8 * i));
}

// v must be below 2^28.
template <Byte B>
constexpr void putSyncSafe28(B* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<B>((v >> (21 - 7 * i)) & 0x7Fu);
}

// Bounded forms: nothing when the word does not lie wholly inside `bytes`.
template <Byte B>
constexpr std::optional<std::uint32_t> bigEndian32At(std::span<const B> bytes, std::size_t offset)
{
    if (offset > bytes.size() || bytes.size() - offset < 4)
        return std::nullopt;
    return bigEndian32(bytes.data() + offset);
}

template <Byte B>
constexpr std::optional<std::uint32_t> syncSafe28At(std::span<const B> bytes, std::size_t offset)
{
    if (offset > bytes.size() || bytes.size() - offset < 4)
        return std::nullopt;
    return syncSafe28(bytes.data() + offset);
}

} // namespace morvik::bytes
