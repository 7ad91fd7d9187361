// Reads a folder's entries one kernel buffer at a time, so a huge folder is never held whole.
#pragma once

#include <QByteArray>

#include <utility>
#include <vector>

namespace fileop {

// The entries of a folder without "." and "..", each with its type as the
// folder gives it (DT_UNKNOWN where the file system does not say).
using DirEntries = std::vector<std::pair<QByteArray, unsigned char>>;

// getdents64 on the folder's own descriptor: no stream to set up per folder,
// and at most one buffer of names (64 KiB) read ahead of the caller.
class DirReader {
public:
    explicit DirReader(int dirFd)
        : m_fd(dirFd)
    {}

    // Appends the next batch of entries to out: false at the end of the
    // folder or on a failed read (error() then says which).
    bool next(DirEntries& out);
    int error() const { return m_error; }

private:
    int m_fd;
    int m_error = 0;
    bool m_done = false;
};

// Every entry at once, for callers that need all names before they change
// the folder. Returns 0, or the errno of a listing that failed; entries then
// holds what was read.
int listEntries(int dirFd, DirEntries& entries);

} // namespace fileop
