#pragma once

#include <QByteArray>
#include <QString>

#include <sys/stat.h>

#include <atomic>
#include <functional>
#include <utility>
#include <vector>

namespace fileop {

class FileOperationEngine;

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
    // as up to date only on a time closer than whole seconds.
    bool deletesSource = false;
};

struct CopyOutcome {
    int error = 0; // errno; EEXIST = the name is taken (neither replace nor rename asked)
    QString action;
    bool onTarget = false;
    qint64 size = -1; // the source's size when it was read
    // The source as it was opened, so a move deletes it only while unchanged.
    struct stat source {};
    QByteArray placed{};          // the name it got at the target
    bool upToDate = false;        // the target already held it: only metadata was brought in line
    bool deferred = false;        // a later name of an inode: nothing done yet (see claimInode)
    bool metadataChanged = false; // up to date, but its attributes had to be brought in line
    qint64 bytesWritten = 0;      // the data actually written (not a link, not the holes)
};

// Whether a target's modification time stands for the source's: equal, or the
// source's cut to the coarser clock of the target's file system (100 ns for
// SMB and NTFS, 1 us, 1 ms, and with wholeSeconds 1 s or within FAT's two
// seconds). Whole seconds say too little to delete a source on: a file of the
// same size saved by another tool in that second would pass.
bool sameModificationTime(const timespec& source, const timespec& target, bool wholeSeconds = true);

// From the two stats alone: dst has src's time, mode and owner (as root), and
// src's metadata has not changed since dst's was last written (src's change
// time is older), so their extended attributes cannot differ either.
bool attributesUnchanged(const struct stat& src, const struct stat& dst);

// Copies one file, link or special file with its metadata. A regular file is
// written where nobody sees it (O_TMPFILE, or a temporary name) and appears
// under its final name only once complete. ECANCELED when the engine was cancelled.
CopyOutcome copyItem(const PlaceRequest& request, const FileOperationEngine& engine, std::atomic<qint64>& bytesDone);

// Owner (when root), extended attributes (POSIX ACLs among them), mode and
// times, in that order: chown clears set-id bits and an ACL rewrites the mode.
int copyMetadata(int srcFd, int dstFd, const struct stat& st);

// openat for reading a source: without touching its access time where the
// kernel lets us (as its owner or root), plainly otherwise.
int openSource(int dirFd, const char* name, int flags);

// The entries of a folder without "." and "..", each with its type as the
// folder gives it (DT_UNKNOWN where the file system does not say). Returns 0,
// or the errno of a listing that failed; entries then holds what was read.
using DirEntries = std::vector<std::pair<QByteArray, unsigned char>>;
int listEntries(int dirFd, DirEntries& entries);

} // namespace fileop
