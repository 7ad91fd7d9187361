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

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

struct Pipe {
    int fd[2] = {-1, -1};
    ~Pipe()
    {
        closeFd(fd[0]);
        closeFd(fd[1]);
    }
    bool make() { return pipe2(fd, O_CLOEXEC) == 0; }
    // The parent's end, handed over to the caller.
    int take(int end)
    {
        const int f = fd[end];
        fd[end] = -1;
        return f;
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
    int open = errFd >= 0 ? 2 : 1;
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

int spawnChild(const std::vector<std::string>& argv, const SpawnOptions& options, SpawnedChild& child)
{
    child = {};
    Pipe in, out, err;
    if (argv.empty())
        return EINVAL;
    if ((options.pipeInput && !in.make()) || !out.make() || (!options.mergeOutput && !err.make()))
        return errno;
    SpawnActions spawn;
    if (options.pipeInput)
        posix_spawn_file_actions_adddup2(&spawn.actions, in.fd[0], 0);
    else
        posix_spawn_file_actions_addopen(&spawn.actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&spawn.actions, out.fd[1], 1);
    posix_spawn_file_actions_adddup2(&spawn.actions, options.mergeOutput ? out.fd[1] : err.fd[1], 2);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (const int rc = posix_spawnp(&pid, args[0], &spawn.actions, nullptr, args.data(), environ); rc != 0)
        return rc;
    child.pid = pid;
    child.in = in.take(1);
    child.out = out.take(0);
    child.err = err.take(0);
    return 0;
}

ChildResult runChild(const std::vector<std::string>& argv, bool mergeOutput)
{
    ChildResult result;
    SpawnedChild child;
    result.startError = spawnChild(argv, {.pipeInput = false, .mergeOutput = mergeOutput}, child);
    if (result.startError != 0)
        return result;
    result.started = true;
    drain(child.out, child.err, result.out, result.err);
    closeFd(child.out);
    closeFd(child.err);
    int status = 0;
    while (waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace cacls
