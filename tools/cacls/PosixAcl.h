#pragma once

#include <span>
#include <sys/stat.h>
#include <sys/types.h>

// Grants named entries on one file-system object with POSIX ACLs (libacl), as an
// edit: every other entry stays, the mask is recomputed. The new access list (and
// on a folder the default list, so new files inherit the grant) is built on a copy
// and written only once valid. <sys/acl.h> stays inside PosixAcl.cpp.
namespace cacls {

struct AclGrant {
    bool group = false;
    id_t id = 0;
};

struct AclOutcome {
    int error = 0;         // errno of the step that failed, 0 on success
    const char* step = ""; // which step failed, for the message
    bool changed = false;  // something was written
};

// fd refers to the object itself (O_PATH is enough; symbolic links are the caller's to skip).
// Folders get rwx in the access and the default list; other objects rw, and x only if
// the object already had an execute bit.
AclOutcome grantOnObject(int fd, const struct stat& st, std::span<const AclGrant> grants);

} // namespace cacls
