// Helpers shared by the unit tests: temporary folders, whole-file I/O,
// running the encoders and the command-line tool, and the shared test data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// A fresh folder under $TMPDIR (or /tmp), removed with all it holds.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);
// Names in a folder, sorted, without "." and "..".
std::vector<std::string> listFolder(const std::string& path);

struct CommandResult {
    int status = -1;     // exit status, or -1 when it did not exit normally
    std::string output;  // standard output
};
// Runs a shell command; standard error goes to the test's log.
CommandResult run(const std::string& shellCommand);
// Quotes a string for /bin/sh.
std::string shellQuote(const std::string& s);

// The morvik-cli binary of this build (MORVIK_CLI overrides it).
std::string cliPath();
// The ../shared folder with conformance/ and iso-tables/ (MORVIK_SHARED_DIR
// overrides it); fails the test
// with a clear message when it is missing.
std::string sharedDir();

// Makes an MP3 of `seconds` of a tone with lame (CBR 128 kbit/s, 44.1 kHz),
// cached per process. Fails the test when lame is missing.
std::string toneMp3(double seconds = 0.2);

// Little helpers for byte literals.
std::string bytes(std::initializer_list<int> values);
std::string repeat(char c, std::size_t n);
// A 32-bit value as four bytes: big-endian, little-endian, and the ID3v2
// "syncsafe" form of seven bits per byte (v below 2^28).
std::string be32(std::uint32_t v);
std::string le32(std::uint32_t v);
std::string syncsafe(std::uint32_t v);

} // namespace testsupport
