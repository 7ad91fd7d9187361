#include "cacls/ChildProcess.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace cacls {
namespace {

struct Pipe {
    int fd[2] = {-1, -1};
    ~Pipe() { closeAll(); }
    void closeAll()
    {
        for (int& f : fd) {
            if (f >= 0)
                ::close(f);
            f = -1;
        }
    }
};

struct SpawnActions {
    posix_spawn_file_actions_t actions;
    SpawnActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
};

// Reads both pipes until both are closed; poll keeps one full pipe from blocking the other.
void drain(int outFd, int errFd, std::string& out, std::string& err)
{
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[2] = {&out, &err};
    int open = 2;
    char buffer[8192];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
}

} // namespace

ChildResult runChild(const std::vector<std::string>& argv)
{
    ChildResult result;
    Pipe outPipe, errPipe;
    if (argv.empty() || pipe2(outPipe.fd, O_CLOEXEC) != 0 || pipe2(errPipe.fd, O_CLOEXEC) != 0) {
        result.startError = argv.empty() ? EINVAL : errno;
        return result;
    }
    SpawnActions spawn;
    posix_spawn_file_actions_addopen(&spawn.actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&spawn.actions, outPipe.fd[1], 1);
    posix_spawn_file_actions_adddup2(&spawn.actions, errPipe.fd[1], 2);

    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &spawn.actions, nullptr, args.data(), environ);
    if (rc != 0) {
        result.startError = rc;
        return result;
    }
    result.started = true;
    ::close(outPipe.fd[1]);
    outPipe.fd[1] = -1;
    ::close(errPipe.fd[1]);
    errPipe.fd[1] = -1;
    drain(outPipe.fd[0], errPipe.fd[0], result.out, result.err);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace cacls
