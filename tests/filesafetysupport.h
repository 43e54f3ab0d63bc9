// Helpers shared by the file-safety tests: the title `morvik-cli read`
// prints, and a `morvik-cli write` interrupted by a signal.
#pragma once

#include "testsupport.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace filesafety {

// The title field of `morvik-cli read VIEW PATH`.
inline std::string titleOf(const std::string& view, const std::string& path)
{
    using namespace testsupport;
    const std::string line = run(shellQuote(cliPath()) + " read " + view + " " + shellQuote(path)).output;
    const auto a = line.find('\t', line.find('\t') + 1);
    return line.substr(a + 1, line.find('\t', a + 1) - a - 1);
}

// Runs `morvik-cli write --v2 PATH TITLE ...`, sends `sig` after `micros`
// microseconds, and tells whether the signal ended it.
inline bool writeInterrupted(const std::string& path, const std::string& title, int sig, int micros)
{
    const std::string binary = testsupport::cliPath();
    const pid_t child = ::fork();
    if (child == 0) {
        const int devnull = ::open("/dev/null", O_WRONLY);
        ::dup2(devnull, 2);
        ::execl(binary.c_str(), binary.c_str(), "write", "--v2", path.c_str(), title.c_str(), "a", "l", "y", "c",
                "1", "Pop", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(micros));
    ::kill(child, sig);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == sig;
}

} // namespace filesafety
