#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Starting programs with an argument vector (never a shell). One short run with its
// output captured (runChild), or a long-lived child spoken to over its pipes
// (spawnChild, as the SMB permission helper is).
namespace cacls {

struct ChildResult {
    bool started = false;
    int startError = 0; // errno when not started (ENOENT: not installed)
    int exitCode = -1;  // -1 when killed by a signal
    std::string out;    // with mergeOutput: both streams, in the order written
    std::string err;
};

// A started child and the parent's ends of its pipes (-1 where there is none). The
// caller owns the descriptors and reaps the child.
struct SpawnedChild {
    pid_t pid = -1;
    int in = -1;
    int out = -1;
    int err = -1;
};

struct SpawnOptions {
    bool pipeInput = false;   // false: stdin from /dev/null, so it can never wait for a password
    bool mergeOutput = false; // stderr into the stdout pipe
};

// argv[0] is looked up in PATH. Returns 0, or the errno why it did not start
// (ENOENT: not installed); nothing is left open then. Every descriptor is close-on-exec.
int spawnChild(const std::vector<std::string>& argv, const SpawnOptions& options, SpawnedChild& child);

// Runs argv to its end with stdin from /dev/null and its output captured.
ChildResult runChild(const std::vector<std::string>& argv, bool mergeOutput = false);

} // namespace cacls
