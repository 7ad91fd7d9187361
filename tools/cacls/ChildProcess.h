#pragma once

#include <string>
#include <vector>

// Runs a program with an argument vector (never a shell), stdin from /dev/null so it
// can never wait for a password, and both output streams captured separately.
namespace cacls {

struct ChildResult {
    bool started = false;
    int startError = 0; // errno when not started (ENOENT: not installed)
    int exitCode = -1;  // -1 when killed by a signal
    std::string out;
    std::string err;
};

// argv[0] is looked up in PATH.
ChildResult runChild(const std::vector<std::string>& argv);

} // namespace cacls
