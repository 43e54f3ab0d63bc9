// Byte-built ID3v2 tags for the tests: headers and frames of versions 2.2,
// 2.3 and 2.4, UTF-16 of ASCII, and unsynchronisation.
#pragma once

#include "testsupport.h"

#include <cstdint>
#include <string>

namespace id3testsupport {

using testsupport::be32;
using testsupport::bytes;
using testsupport::syncsafe;

inline std::string s(const char* bytes, std::size_t n) { return std::string(bytes, n); }

inline std::string header(int version, int flags, std::uint32_t size)
{
    return "ID3" + bytes({version, 0, flags}) + syncsafe(size);
}

inline std::string frame23(const std::string& id, const std::string& body, int flags = 0)
{
    return id + be32(static_cast<std::uint32_t>(body.size())) + bytes({flags >> 8, flags & 255}) + body;
}

inline std::string frame24(const std::string& id, const std::string& body, int flags = 0)
{
    return id + syncsafe(static_cast<std::uint32_t>(body.size())) + bytes({flags >> 8, flags & 255}) + body;
}

inline std::string frame22(const std::string& id, const std::string& body)
{
    const auto n = static_cast<std::uint32_t>(body.size());
    return id + bytes({int(n >> 16), int(n >> 8 & 255), int(n & 255)}) + body;
}

// A tag of `version` holding `frames`, padded to `size` bytes after the
// header (at least the frames).
inline std::string tag(int version, const std::string& frames, std::size_t padding = 20, int flags = 0)
{
    return header(version, flags, static_cast<std::uint32_t>(frames.size() + padding)) + frames +
           std::string(padding, '\0');
}

// UTF-16 little-endian of ASCII text.
inline std::string le16(const std::string& ascii)
{
    std::string out;
    for (char c : ascii)
        out += std::string(1, c) + '\0';
    return out;
}

inline std::string be16(const std::string& ascii)
{
    std::string out;
    for (char c : ascii)
        out += std::string(1, '\0') + c;
    return out;
}

// Every 0xFF followed by 0x00 or a byte from 0xE0 gets a 0x00 after it.
inline std::string unsynchronised(const std::string& plain)
{
    std::string out;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        out += plain[i];
        if (plain[i] == '\xFF' && (i + 1 == plain.size() || plain[i + 1] == '\0' ||
                                   static_cast<unsigned char>(plain[i + 1]) >= 0xE0))
            out += '\0';
    }
    return out;
}

} // namespace id3testsupport
