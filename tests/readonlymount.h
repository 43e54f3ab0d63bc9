// A file made read-only for the process even as root: the test's main
// thread moves into a mount namespace of its own (once, with every mount
// private, so nothing reaches the rest of the system) and binds the file
// read-only over itself. The bind is undone when the object goes, before the
// folder holding the file is removed.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <unistd.h>

namespace testsupport {

class ReadOnlyBind {
public:
    explicit ReadOnlyBind(std::string path) : m_path(std::move(path))
    {
        if (!privateMounts())
            return;
        if (::mount(m_path.c_str(), m_path.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            m_error = std::string("bind: ") + std::strerror(errno);
            return;
        }
        m_bound = true;
        if (::mount(nullptr, m_path.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
            m_error = std::string("read-only remount: ") + std::strerror(errno);
    }
    ~ReadOnlyBind()
    {
        if (m_bound)
            ::umount2(m_path.c_str(), MNT_DETACH);
    }
    ReadOnlyBind(const ReadOnlyBind&) = delete;
    ReadOnlyBind& operator=(const ReadOnlyBind&) = delete;

    // Empty when the file is read-only now; else why not (the test skips).
    const std::string& error() const { return m_error; }

private:
    bool privateMounts()
    {
        static std::string failure = [] {
            if (::geteuid() != 0)
                return std::string("needs root to bind-mount a file read-only");
            if (::unshare(CLONE_NEWNS) != 0)
                return std::string("unshare: ") + std::strerror(errno);
            if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
                return std::string("private mounts: ") + std::strerror(errno);
            return std::string();
        }();
        m_error = failure;
        return failure.empty();
    }

    std::string m_path;
    std::string m_error;
    bool m_bound = false;
};

} // namespace testsupport
