#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

// Owners of POSIX and C-library handles, header-only and without Qt, shared by
// the copy engine, the directory layer and the permission tool.
namespace posix {

// Owns one file descriptor. For a file we wrote, call closeChecked() and look
// at the result: deferred write errors show up there; the destructor only
// cleans up after a failure.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd)
        : m_fd(fd)
    {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    int release() { return std::exchange(m_fd, -1); }
    // Returns 0 or the errno of close().
    int closeChecked()
    {
        const int fd = std::exchange(m_fd, -1);
        if (fd < 0)
            return 0;
        return ::close(fd) == 0 ? 0 : errno;
    }

private:
    int m_fd = -1;
};

// A std::unique_ptr deleter that calls a C library's own free function.
template <auto FreeFn> struct CFree {
    template <class T> void operator()(T* p) const noexcept
    {
        if (p)
            FreeFn(p);
    }
};

} // namespace posix
