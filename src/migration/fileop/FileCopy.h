// Copies one file, link or special file to its target folder, both reached by descriptor.
#pragma once

#include "Action.h"
#include "QuickCheck.h"
#include "UniqueFd.h"

#include <QByteArray>
#include <QString>

#include <sys/stat.h>

#include <atomic>
#include <functional>
#include <utility>
#include <vector>

namespace fileop {

// One item to copy from a source folder to a target folder (both as descriptors).
struct PlaceRequest {
    int srcDir = -1;
    QByteArray srcName;
    int dstDir = -1;
    QByteArray dstName;
    mode_t type = 0;      // S_IFREG, S_IFLNK, ...
    bool replace = false; // put it over an existing item of that name
    bool rename = false;  // put it under the first free "Copy of" name
    // Shared by the files of one run: cleared once copy_file_range proves
    // unusable between the two file systems, so it is not tried per file.
    std::atomic<bool>* rangeCopy = nullptr;
    // The item found at the target's name just before, when one was: a second
    // pass then settles an unchanged file from the two stats alone.
    const struct stat* target = nullptr;
    // For a source with more than one name: true when this name is the first
    // of its inode met (its data is copied), false to leave it for later.
    std::function<bool(const struct stat&)> claimInode;
    // A later name of an inode already copied: made as a hard link to that copy
    // (linkFromName in linkFromDir), if the source is still inode linkInode.
    int linkFromDir = -1;
    QByteArray linkFromName;
    ino_t linkInode = 0;
    // A move deletes the source once this copy stands: a target is then taken
    // as up to date only on a time matched to its file system's real clock.
    bool deletesSource = false;
    // The clock of the target folder's file system (device clockDev); a target
    // on any other device is compared exactly.
    TargetClock clock{};
    dev_t clockDev = 0;
};

struct CopyOutcome {
    Cause error{}; // EEXIST: the name is taken (neither replace nor rename asked)
    Action action = Action::Open;
    bool onTarget = false;
    qint64 size = -1; // the source's size when it was read
    // The source as it was opened, so a move deletes it only while unchanged.
    struct stat source {};
    QByteArray placed{};          // the name it got at the target
    bool upToDate = false;        // the target already held it: only metadata was brought in line
    bool deferred = false;        // a later name of an inode: nothing done yet (see claimInode)
    bool onLinkSource = false;    // the failure was the first copy's, which a later name links to
    bool metadataChanged = false; // up to date, but its attributes had to be brought in line
    qint64 bytesWritten = 0;      // the data actually written (not a link)
};

// Copies one file, link or special file with its metadata. A regular file is
// written where nobody sees it (O_TMPFILE, or a temporary name) and appears
// under its final name only once complete. ECANCELED once cancel is set.
CopyOutcome copyItem(const PlaceRequest& request, const std::atomic<bool>& cancel, std::atomic<qint64>& bytesDone);

// openat for reading a source: without touching its access time where the
// kernel lets us (as its owner or root), plainly otherwise.
Opened openSource(int dirFd, const char* name, int flags);

} // namespace fileop
