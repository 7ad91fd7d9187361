#pragma once

#include "cacls/PosixAcl.h"

#include <cstddef>
#include <string>
#include <vector>

// Applies the grants to a local folder and everything below it. Symbolic links are
// never followed (neither the folder itself nor anything inside it), so a link planted
// in a home folder cannot carry the grant out of the tree. Only folders and regular
// files are granted: a device node, FIFO or socket in a home folder is left alone, as
// rights on it would reach the device or the program behind it. Objects that refuse
// the change are reported and the walk goes on: the rest of the user's files still get it.
namespace cacls {

struct LocalReport {
    bool folderFound = false;
    bool stopped = false; // the folder itself could not be changed: nothing below was tried
    std::size_t folders = 0;
    std::size_t files = 0;
    std::size_t changed = 0;
    std::size_t linksSkipped = 0;
    std::size_t specialsSkipped = 0;   // device nodes, FIFOs, sockets
    std::vector<std::string> failures; // "path: reason"
};

LocalReport grantLocal(const std::string& folder, const std::vector<AclGrant>& grants);

} // namespace cacls
