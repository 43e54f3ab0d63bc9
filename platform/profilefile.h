// A settings file of the classic profile form:
//
//   [section]
//   key=value
//
// Section and key names match without regard to ASCII letter case or the
// blanks around them. Every read looks at the file as it is on disk now, and
// every write rewrites the whole file in one step (a temporary file renamed
// over it), keeping every line it does not change, garbage included. Values
// are bytes; the window stores UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace morvik {

class TProfileFile {
public:
    explicit TProfileFile(std::string path);

    const std::string& FileName() const { return m_path; }

    // The value with its surrounding blanks removed, or `fallback` when the
    // file, the section or the key is missing.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& fallback) const;
    // The leading decimal integer of the value (optional sign, then digits;
    // a value without digits reads as 0), or `fallback` when the key is
    // missing. Values beyond the 32-bit range are clamped.
    std::int32_t ReadInteger(const std::string& section, const std::string& key,
                             std::int32_t fallback) const;
    // Any non-zero integer is true.
    bool ReadBool(const std::string& section, const std::string& key, bool fallback) const;

    // Each write returns false when the file could not be replaced; the old
    // file is then left as it was. A file that exists but cannot be read
    // whole, or is read-only, is never written. A symbolic link is written
    // through to its target; the file's mode is kept.
    bool WriteString(const std::string& section, const std::string& key, const std::string& value);
    bool WriteInteger(const std::string& section, const std::string& key, std::int32_t value);
    bool WriteBool(const std::string& section, const std::string& key, bool value);

private:
    std::optional<std::vector<std::string>> readLines() const;
    std::string m_path;
};

// Where the window keeps "tag.ini": beside the executable when that folder
// is writable, otherwise $XDG_CONFIG_HOME/morvik (default ~/.config/morvik).
std::string settingsFilePath(const std::string& executableFolder);

} // namespace morvik
