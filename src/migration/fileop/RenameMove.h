// A move within one file system, done by renames.
#pragma once

#include <QByteArray>
#include <QString>

#include <sys/stat.h>

#include <atomic>
#include <cstddef>

namespace fileop {

class RunPolicy;
class RunProgress;

// A move within one file system: each entry is renamed; a folder that exists
// on both sides is merged entry by entry, and the emptied source folder removed.
class RenameMove {
public:
    // batchLimit: names read ahead at most while a folder is merged (0: the default).
    RenameMove(const std::atomic<bool>& cancel, int flags, int batchLimit, RunPolicy& policy, RunProgress& progress);

    // Moves sname in folder sfd to dname in folder dfd; top is the request's
    // own item. True when the source entry is gone (moved, or merged and removed).
    bool moveEntry(int sfd, const QByteArray& sname, int dfd, const QByteArray& dname, const QString& spath,
                   const QString& dpath, bool top);

private:
    // One side of a merge: the entry in its parent folder, and what was seen there.
    struct Side {
        int parent;
        const QByteArray& name;
        const QString& path;
        const struct stat& seen;
    };
    enum class Merged { Emptied, Kept, Again };

    bool moved();
    Merged mergeFolder(const Side& src, const Side& dst);
    // Moves every entry of folder sfd into dfd, one batch of names at a time;
    // false when the run was cancelled or the folder could not be read.
    bool moveAllEntries(int sfd, int dfd, const QString& spath, const QString& dpath);
    bool renameToFreeName(int sfd, const QByteArray& sname, int dfd, const QByteArray& dname, bool isFolder);

    const std::atomic<bool>& m_cancel;
    const int m_flags;
    const size_t m_batchLimit;
    RunPolicy& m_policy;
    RunProgress& m_progress;
};

} // namespace fileop
