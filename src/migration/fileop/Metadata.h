// Owner, mode, times and extended attributes: copying them and seeing whether they differ.
#pragma once

#include "QuickCheck.h"

#include <sys/stat.h>

namespace fileop {

// Owner (when root), extended attributes (POSIX ACLs among them), mode and
// times, in that order: chown clears set-id bits and an ACL rewrites the mode.
int copyMetadata(int srcFd, int dstFd, const struct stat& st);

// Whether copyMetadata would change anything on out: mode, owner (as root),
// modification time (on the target's clock), or an attribute of the source
// it lacks. Attributes only the target has are not ours to remove.
bool metadataDiffers(int in, int out, const struct stat& src, const struct stat& dst, const TargetClock& clock);

// A failed chown that a copy can live with (no privilege, no such id there).
bool ignorableChownError(int e);

} // namespace fileop
