// A move within one file system, done by renames.
#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>

namespace fileop {

class RunPolicy;
class RunProgress;

// A move within one file system: each entry is renamed; a folder that exists
// on both sides is merged entry by entry, and the emptied source folder removed.
class RenameMove {
public:
    RenameMove(const std::atomic<bool>& cancel, int flags, RunPolicy& policy, RunProgress& progress);

    // Moves sname in folder sfd to dname in folder dfd; top is the request's own item.
    void moveEntry(int sfd, const QByteArray& sname, int dfd, const QByteArray& dname, const QString& spath,
                   const QString& dpath, bool top);

private:
    bool renameToFreeName(int sfd, const QByteArray& sname, int dfd, const QByteArray& dname, bool isFolder);

    const std::atomic<bool>& m_cancel;
    const int m_flags;
    RunPolicy& m_policy;
    RunProgress& m_progress;
};

} // namespace fileop
