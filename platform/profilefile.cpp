#include "platform/profilefile.h"

#include "platform/posixfile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace morvik {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string trimmed(const std::string& s)
{
    std::size_t begin = 0;
    std::size_t end = s.size();
    while (begin < end && isBlank(s[begin]))
        ++begin;
    while (end > begin && isBlank(s[end - 1]))
        --end;
    return s.substr(begin, end - begin);
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(const std::string& a, const std::string& b)
{
    const std::string x = trimmed(a);
    const std::string y = trimmed(b);
    if (x.size() != y.size())
        return false;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (lowerAscii(x[i]) != lowerAscii(y[i]))
            return false;
    }
    return true;
}

// The name of a "[name]" line, or nullopt for any other line.
std::optional<std::string> sectionName(const std::string& line)
{
    const std::string t = trimmed(line);
    if (t.size() < 2 || t.front() != '[')
        return std::nullopt;
    const std::size_t close = t.find(']');
    if (close == std::string::npos)
        return std::nullopt;
    return t.substr(1, close - 1);
}

bool isComment(const std::string& line)
{
    const std::string t = trimmed(line);
    return !t.empty() && t.front() == ';';
}

// Splits a "key=value" line; nullopt for lines without "=".
std::optional<std::pair<std::string, std::string>> keyValue(const std::string& line)
{
    if (isComment(line))
        return std::nullopt;
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos)
        return std::nullopt;
    return std::make_pair(line.substr(0, eq), line.substr(eq + 1));
}

// Lines [begin, end) of the body of the first section called `section`;
// begin = npos when there is no such section.
struct SectionRange {
    std::size_t header = std::string::npos;
    std::size_t end = 0;
};

SectionRange findSection(const std::vector<std::string>& lines, const std::string& section)
{
    SectionRange r;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto name = sectionName(lines[i]);
        if (!name)
            continue;
        if (r.header != std::string::npos) {
            r.end = i;
            return r;
        }
        if (sameName(*name, section))
            r.header = i;
    }
    r.end = lines.size();
    return r;
}

std::size_t findKey(const std::vector<std::string>& lines, const SectionRange& range, const std::string& key)
{
    if (range.header == std::string::npos)
        return std::string::npos;
    for (std::size_t i = range.header + 1; i < range.end; ++i) {
        const auto kv = keyValue(lines[i]);
        if (kv && sameName(kv->first, key))
            return i;
    }
    return std::string::npos;
}

std::int32_t leadingInteger(const std::string& text)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT32_MAX) + 1)
            value = static_cast<long long>(INT32_MAX) + 1;
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX)
        value = INT32_MAX;
    return static_cast<std::int32_t>(value);
}

} // namespace

TProfileFile::TProfileFile(std::string path) : m_path(std::move(path)) {}

// The file's lines; an empty list when it does not exist, nullopt when it
// exists but could not be read whole (no permission, an I/O error).
std::optional<std::vector<std::string>> TProfileFile::readLines() const
{
    std::vector<std::string> lines;
    PosixFile file = PosixFile::openRegular(m_path, PosixFile::Mode::ReadOnly);
    if (!file.valid())
        return file.lastError() == ENOENT ? std::optional(lines) : std::nullopt;
    std::string text;
    char buffer[8192];
    while (true) {
        const std::size_t got = file.read(buffer, sizeof buffer);
        if (file.lastError() != 0)
            return std::nullopt;
        if (got == 0)
            break;
        text.append(buffer, got);
    }
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(begin, end - begin);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        begin = end + 1;
    }
    return lines;
}

std::string TProfileFile::ReadString(const std::string& section, const std::string& key,
                                     const std::string& fallback) const
{
    const std::vector<std::string> lines = readLines().value_or(std::vector<std::string>{});
    const std::size_t at = findKey(lines, findSection(lines, section), key);
    if (at == std::string::npos)
        return fallback;
    return trimmed(keyValue(lines[at])->second);
}

std::int32_t TProfileFile::ReadInteger(const std::string& section, const std::string& key,
                                       std::int32_t fallback) const
{
    const std::vector<std::string> lines = readLines().value_or(std::vector<std::string>{});
    const std::size_t at = findKey(lines, findSection(lines, section), key);
    if (at == std::string::npos)
        return fallback;
    return leadingInteger(trimmed(keyValue(lines[at])->second));
}

bool TProfileFile::ReadBool(const std::string& section, const std::string& key, bool fallback) const
{
    return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

bool TProfileFile::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    // A line break in a value would start a new line of the file.
    if (value.find_first_of("\r\n") != std::string::npos || key.find_first_of("\r\n=[") != std::string::npos)
        return false;
    // A file that could not be read whole is never written over: the new
    // file would hold only this one key.
    const auto read = readLines();
    if (!read)
        return false;
    std::vector<std::string> lines = *read;
    const SectionRange range = findSection(lines, section);
    const std::string entry = trimmed(key) + "=" + value;
    const std::size_t at = findKey(lines, range, key);
    if (at != std::string::npos) {
        lines[at] = entry;
    } else if (range.header != std::string::npos) {
        // After the section's last non-empty line, so blank separators stay.
        std::size_t insertAt = range.end;
        while (insertAt > range.header + 1 && trimmed(lines[insertAt - 1]).empty())
            --insertAt;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), entry);
    } else {
        if (!lines.empty() && !trimmed(lines.back()).empty())
            lines.emplace_back();
        lines.push_back("[" + section + "]");
        lines.push_back(entry);
    }

    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";

    // A symbolic link is written through to its target, and the link stays.
    std::string target = m_path;
    unsigned mode = 0644;
    struct stat st;
    if (::stat(m_path.c_str(), &st) == 0) {
        // A read-only file is the user's wish that it stays as it is.
        if ((st.st_mode & 0222) == 0)
            return false;
        mode = st.st_mode & 07777;
        const auto real = resolvedPath(m_path);
        if (!real)
            return false;
        target = *real;
    }
    const std::string folder = folderOf(target);
    if (folder != "./" && makeFolders(folder.substr(0, folder.size() - 1)) != 0)
        return false;
    TempFileBeside temp(target);
    if (!temp.valid())
        return false;
    temp.file().setPermissions(mode);
    if (!temp.file().write(text.data(), text.size()))
        return false;
    return temp.commitTo(target);
}

bool TProfileFile::WriteInteger(const std::string& section, const std::string& key, std::int32_t value)
{
    return WriteString(section, key, std::to_string(value));
}

bool TProfileFile::WriteBool(const std::string& section, const std::string& key, bool value)
{
    return WriteString(section, key, value ? "1" : "0");
}

std::string settingsFilePath(const std::string& executableFolder)
{
    std::string folder = executableFolder;
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    if (!folder.empty() && ::access(folder.c_str(), W_OK) == 0)
        return folder + "tag.ini";
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg && *xdg == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home && *home ? home : "") + "/.config";
    }
    return base + "/morvik/tag.ini";
}

} // namespace morvik
