// Owned descriptors, and a descriptor that travels with the error of its open.
#pragma once

#include "common/PosixHandles.h"

namespace fileop {
using posix::UniqueFd;

// A descriptor, or the errno of the open that failed: the two travel
// together, so no later call can overwrite the reason.
struct Reached {
    int fd = -1;
    int error = 0;
    bool ok() const { return fd >= 0; }
};

// An owned descriptor and the errno of the open that made it (0 when it worked).
struct Opened {
    UniqueFd fd;
    int error = 0;
    bool ok() const { return fd.valid(); }
};
} // namespace fileop
