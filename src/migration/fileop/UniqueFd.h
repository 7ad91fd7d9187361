// Owned descriptors, and a descriptor that travels with the error of its open.
#pragma once

#include "Outcome.h"
#include "common/PosixHandles.h"

namespace fileop {
using posix::UniqueFd;

// A descriptor, or why it could not be reached: the two travel together, so
// no later call can overwrite the reason.
struct Reached {
    int fd = -1;
    Cause error{};
    bool ok() const { return fd >= 0; }
};

// An owned descriptor and the errno of the open that made it (0 when it worked).
struct Opened {
    UniqueFd fd;
    int error = 0;
    bool ok() const { return fd.valid(); }
};
} // namespace fileop
