// The names of one inode met in a tree: the first is copied, the later ones become hard links to it.
#pragma once

#include "TreeIdentity.h"

#include <QByteArray>

#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace fileop {

struct FileJob;

// The threaded form of a copy's inode table: the workers claim inodes and
// note where the first copies landed; the later names wait here until the
// workers are done, then each is linked to its first copy.
class HardLinks {
public:
    // Whether job's name is the one whose data is copied: the first met of
    // its inode, or the same name again on a retry.
    bool claim(const Identity& inode, const FileJob* job);
    // The copy of job, the claimed name, stands in its target folder as name.
    void placed(const Identity& inode, const FileJob* job, const QByteArray& name);
    // A later name, left until the workers are done.
    void defer(FileJob* job, const Identity& inode);

    struct FirstCopy {
        const FileJob* job = nullptr;
        QByteArray placed; // empty while (or when) there is no copy to link to
    };
    // After the workers, without locks: the later names in the order met.
    const std::vector<std::pair<FileJob*, Identity>>& later() const { return m_later; }
    FirstCopy firstCopy(const Identity& inode) const;
    // A later name whose first copy failed is copied on its own, and the
    // names after it link to that copy.
    void takeOver(const Identity& inode, const FileJob* job);

private:
    mutable std::mutex m_mutex;
    std::map<Identity, FirstCopy> m_inodes;
    std::vector<std::pair<FileJob*, Identity>> m_later;
};

} // namespace fileop
