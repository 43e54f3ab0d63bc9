#include "testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace testsupport {

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/morvik-test-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    // A test may have taken the write bit away; give it back before removing.
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(m_path, ec);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

bool fileExists(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

std::vector<std::string> listFolder(const std::string& path)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

CommandResult run(const std::string& shellCommand)
{
    CommandResult r;
    std::FILE* p = ::popen(shellCommand.c_str(), "r");
    if (!p)
        return r;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
        r.output.append(buffer, n);
    const int status = ::pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string shellQuote(const std::string& s)
{
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

std::string cliPath()
{
    const char* cli = std::getenv("MORVIK_CLI");
    return cli && *cli ? cli : MORVIK_BUILT_CLI;
}

std::string sharedDir()
{
    const char* dir = std::getenv("MORVIK_SHARED_DIR");
    const std::string path = dir && *dir ? dir : MORVIK_BUILT_SHARED_DIR;
    if (!std::filesystem::is_directory(path + "/conformance"))
        ADD_FAILURE() << "shared test data missing: expected " << path
                      << "/conformance beside the repository (../shared)";
    return path;
}

std::string toneMp3(double seconds)
{
    static TempDir cache;
    const std::string name = cache.file("tone-" + std::to_string(static_cast<int>(seconds * 1000)) + ".mp3");
    if (!fileExists(name)) {
        const std::string cmd = "ffmpeg -nostdin -loglevel error -f lavfi -i sine=frequency=440:duration=" +
                                std::to_string(seconds) + " -ar 44100 -ac 2 -f wav - | lame --quiet -b 128 - " +
                                shellQuote(name);
        const CommandResult r = run(cmd);
        if (r.status != 0 || !fileExists(name))
            ADD_FAILURE() << "could not make a test MP3 with ffmpeg and lame: " << cmd;
    }
    return readFile(name);
}

std::string bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s += static_cast<char>(v);
    return s;
}

std::string repeat(char c, std::size_t n) { return std::string(n, c); }

std::string be32(std::uint32_t v)
{
    return bytes({int(v >> 24), int(v >> 16 & 0xFF), int(v >> 8 & 0xFF), int(v & 0xFF)});
}

std::string le32(std::uint32_t v)
{
    return bytes({int(v & 0xFF), int(v >> 8 & 0xFF), int(v >> 16 & 0xFF), int(v >> 24)});
}

std::string syncsafe(std::uint32_t v)
{
    return bytes({int(v >> 21 & 0x7F), int(v >> 14 & 0x7F), int(v >> 7 & 0x7F), int(v & 0x7F)});
}

} // namespace testsupport
