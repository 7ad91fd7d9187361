// The rules applied to a request before any work: paths, refusals, missing parents.
#pragma once

#include "FileOperation.h"
#include "UniqueFd.h"

#include <QByteArray>

#include <sys/stat.h>

namespace fileop {

class RunPolicy;

// Where a request's source and target are: the source S as given (a link is
// the item itself), the target T it becomes, the folders holding both, and S
// as it was when the run began.
struct ResolvedPaths {
    QByteArray source;
    QByteArray target;
    bool destinationMissing = false;
    UniqueFd srcParent; // O_PATH
    UniqueFd dstParent; // O_PATH; for a missing destination, once its parents are made
    struct stat srcStat {};
};

// The rules before work: a missing source, a destination that is a file, a
// copy into the source itself or over a target that holds the source are
// refused (by device and inode, so links and bind mounts hide nothing) before
// anything is touched. Then a missing destination's parents are made, once
// the operator agrees. Success or the result to end the run with.
Outcome resolvePaths(const Request& request, RunPolicy& policy, ResolvedPaths& out);

} // namespace fileop
