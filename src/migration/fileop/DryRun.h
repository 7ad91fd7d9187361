// What a run would do to each item, found by walking both trees and writing nothing.
#pragma once

#include "FileOperation.h"
#include "PathResolution.h"
#include "QuickCheck.h"
#include "TreeIdentity.h"
#include "UniqueFd.h"

#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace fileop {

struct DryRunTotals {
    std::atomic<qint64> createFiles{0}; // files, links and special files the run would make
    std::atomic<qint64> createBytes{0};
    std::atomic<qint64> replaceFiles{0};
    std::atomic<qint64> replaceBytes{0};
    std::atomic<qint64> upToDate{0};
    std::atomic<qint64> metadataOnly{0};
    std::atomic<qint64> createFolders{0};
    std::atomic<qint64> mergeFolders{0};
    std::atomic<qint64> questions{0};
    std::atomic<qint64> renames{0};
    std::atomic<qint64> deletes{0}; // sources a move would delete
    std::atomic<qint64> failures{0};
    std::atomic<qint64> unusableNames{0};
};

// Lists the fate of every item below a resolved request: create, replace,
// up to date, metadata only, merge, ask, rename, fail, and for a move, delete
// the source. Questions are not asked: a line says which would be, and the
// walk goes on as after a Yes. Folders are listed by several threads; only
// reads are made (no folder is created, no time or attribute changed).
class DryRun {
public:
    using Sink = std::function<void(const QString& line)>; // called under a lock, one line at a time

    DryRun(const Request& request, const ResolvedPaths& paths, const std::atomic<bool>& cancel, Sink sink);
    // Success, or the result of a listing that failed.
    Outcome run();
    const DryRunTotals& totals() const { return m_totals; }
    // "would create 12 files (3.4 MB), replace 3 files (1.2 MB), ..."
    static QString totalsText(const DryRunTotals& totals);

private:
    struct Folder {
        QByteArray srcRel; // below the source, "" for the source itself
        QByteArray dstRel; // below the target
        bool targetExists = false;
        // The source folder as it was listed; a folder opened later must still be it.
        // Empty for the top, which is checked where it is opened.
        Identity seen = {};
    };
    void walk(const Folder& top);
    void listFolder(const Folder& folder, std::vector<Folder>& found);
    void visit(const Folder& in, int srcFd, int dstFd, const QByteArray& name, std::vector<Folder>& found);
    void decideTop(std::vector<Folder>& found);
    void say(const QString& fate, const QByteArray& dstRel, const QString& extra = QString());
    QString targetPath(const QByteArray& rel) const;
    QString sourcePath(const QByteArray& rel) const;
    int openBelow(int rootFd, const QByteArray& rel) const;
    TargetClock clockOf(int dirFd, dev_t dev);

    const Request& m_request;
    const ResolvedPaths& m_paths;
    const std::atomic<bool>& m_cancel;
    Sink m_sink;
    DryRunTotals m_totals;
    std::atomic<Outcome> m_firstError{Outcome::Success};
    std::mutex m_sinkMutex;
    std::mutex m_clocksMutex;
    std::map<dev_t, TargetClock> m_clocks;
    QByteArray m_targetRoot; // the target, or the new name a renamed top gets
    UniqueFd m_srcRoot;      // the source folder (O_RDONLY), or the source item (O_PATH)
    UniqueFd m_dstRoot;      // the existing target folder (O_PATH)
    bool m_topItem = false;  // the source is one file: visit names the top itself
    bool m_move;
    bool m_yes;
    bool m_rename;
};

} // namespace fileop
