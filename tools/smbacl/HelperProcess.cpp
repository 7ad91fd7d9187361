#include "smbacl/HelperProcess.h"

#include "cacls/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace smbacl {
namespace {

constexpr std::size_t ErrTailBytes = 4096;

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// A write to a helper that has just died must give EPIPE, not end the program:
// SIGPIPE is held back for this thread during the write and a pending one discarded.
ssize_t writeNoSignal(int fd, const char* data, std::size_t size)
{
    sigset_t pipeSet, old;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSet, &old);
    const ssize_t n = ::write(fd, data, size);
    const int saved = errno;
    if (n < 0 && saved == EPIPE) {
        const timespec zero{0, 0};
        while (sigtimedwait(&pipeSet, nullptr, &zero) > 0) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = saved;
    return n;
}

} // namespace

HelperProcess::~HelperProcess()
{
    if (running())
        stop(std::chrono::milliseconds(500));
    closeFds();
}

bool HelperProcess::spawn(const std::vector<std::string>& argv, std::string& error)
{
    cacls::SpawnedChild child;
    m_startError = cacls::spawnChild(argv, {.pipeInput = true, .mergeOutput = false}, child);
    if (m_startError != 0) {
        error =
            "cannot start " + (argv.empty() ? std::string("nothing") : argv[0]) + ": " + std::strerror(m_startError);
        return false;
    }
    m_pid = child.pid;
    m_in = child.in;
    m_out = child.out;
    m_err = child.err;
    fcntl(m_out, F_SETFL, fcntl(m_out, F_GETFL) | O_NONBLOCK);
    fcntl(m_err, F_SETFL, fcntl(m_err, F_GETFL) | O_NONBLOCK);
    return true;
}

bool HelperProcess::send(const std::string& line, std::string& error)
{
    if (m_in < 0) {
        error = "the helper is not running";
        return false;
    }
    const std::string data = line + "\n";
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = writeNoSignal(m_in, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = std::string("cannot write to the helper: ") + std::strerror(errno);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void HelperProcess::drainErr()
{
    char chunk[4096];
    while (m_err >= 0) {
        const ssize_t n = ::read(m_err, chunk, sizeof chunk);
        if (n > 0) {
            m_errTail.append(chunk, static_cast<std::size_t>(n));
            if (m_errTail.size() > ErrTailBytes)
                m_errTail.erase(0, m_errTail.size() - ErrTailBytes);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            if (n == 0)
                closeFd(m_err);
            return;
        }
    }
}

bool HelperProcess::pump()
{
    drainErr();
    char chunk[8192];
    while (m_out >= 0) {
        const ssize_t n = ::read(m_out, chunk, sizeof chunk);
        if (n > 0) {
            m_buffer.append(chunk, static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            if (n == 0) {
                closeFd(m_out);
                m_outEnded = true;
            }
            break;
        }
    }
    return !m_outEnded;
}

bool HelperProcess::hasBufferedLine() const
{
    return m_buffer.find('\n') != std::string::npos;
}

bool HelperProcess::takeLine(std::string& line)
{
    const auto end = m_buffer.find('\n');
    if (end == std::string::npos)
        return false;
    line = m_buffer.substr(0, end);
    m_buffer.erase(0, end + 1);
    return true;
}

bool HelperProcess::readLine(std::string& line, std::chrono::milliseconds timeout, std::string& error)
{
    m_timedOut = false;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (takeLine(line)) {
            if (line.size() > MaxLine) {
                error = "the helper wrote a line of " + std::to_string(line.size()) + " bytes";
                return false;
            }
            return true;
        }
        if (m_buffer.size() > MaxLine) {
            error = "the helper wrote more than " + std::to_string(MaxLine) + " bytes without a line end";
            return false;
        }
        if (m_outEnded) {
            stop(std::chrono::milliseconds(1000)); // it closed its output: let it end, or end it
            error = "the helper ended (" + m_end + ")";
            if (const std::string tail = stderrTail(); !tail.empty())
                error += ": " + tail;
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            m_timedOut = true;
            error = "no answer from the helper within " + std::to_string(timeout.count() / 1000.0).substr(0, 5) + " s";
            return false;
        }
        pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
        const int rc = poll(fds, m_err >= 0 ? 2 : 1, static_cast<int>(left.count()));
        if (rc < 0 && errno != EINTR) {
            error = std::string("cannot wait for the helper: ") + std::strerror(errno);
            return false;
        }
        pump();
    }
}

std::string HelperProcess::stderrTail() const
{
    std::string joined;
    std::size_t start = 0;
    while (start < m_errTail.size()) {
        auto end = m_errTail.find('\n', start);
        if (end == std::string::npos)
            end = m_errTail.size();
        const std::string part = m_errTail.substr(start, end - start);
        if (!part.empty())
            joined += (joined.empty() ? "" : "; ") + part;
        start = end + 1;
    }
    // Only the end of a long story fits a log line.
    constexpr std::size_t Keep = 600;
    return joined.size() > Keep ? "..." + joined.substr(joined.size() - Keep) : joined;
}

void HelperProcess::reap(bool wait)
{
    if (m_pid <= 0)
        return;
    int status = 0;
    pid_t got;
    do {
        got = waitpid(m_pid, &status, wait ? 0 : WNOHANG);
    } while (got < 0 && errno == EINTR);
    if (got != m_pid)
        return;
    m_pid = -1;
    if (WIFEXITED(status))
        m_end = "exit status " + std::to_string(WEXITSTATUS(status));
    else if (WIFSIGNALED(status))
        m_end = "killed by signal " + std::to_string(WTERMSIG(status));
    drainErr();
}

void HelperProcess::stop(std::chrono::milliseconds grace)
{
    if (m_pid > 0 && m_in >= 0) {
        std::string ignored;
        send("QUIT", ignored);
    }
    closeFd(m_in);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (m_pid > 0 && std::chrono::steady_clock::now() < deadline) {
        reap(false);
        if (m_pid > 0) {
            pump();
            ::usleep(5000);
        }
    }
    kill();
}

void HelperProcess::kill()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        reap(true);
    }
    closeFds();
}

void HelperProcess::closeFds()
{
    closeFd(m_in);
    closeFd(m_out);
    closeFd(m_err);
}

} // namespace smbacl
