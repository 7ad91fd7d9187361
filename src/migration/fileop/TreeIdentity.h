// What the parts of a run share about places: identities that a swapped name cannot fake, and path arithmetic.
#pragma once

#include "UniqueFd.h"

#include <QByteArray>
#include <QList>

#include <sys/stat.h>

namespace fileop {

// Which folder or file a descriptor or name stands for: a name can be swapped
// under us, the device and inode cannot.
struct Identity {
    dev_t dev = 0;
    ino_t ino = 0;
    bool operator==(const Identity&) const = default;
    auto operator<=>(const Identity&) const = default;
};

inline Identity identityOf(const struct stat& st)
{
    return {st.st_dev, st.st_ino};
}

inline bool sameTime(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

QByteArray parentOf(const QByteArray& path);
QByteArray baseName(const QByteArray& path);
QByteArray joinPath(const QByteArray& dir, const QByteArray& name);
// realpath(3); empty with *error set when it fails.
QByteArray realPath(const QByteArray& path, int* error);
// The canonical form of a path that may not exist yet: its nearest existing
// ancestor resolved, the missing rest appended.
QByteArray canonicalFuture(const QByteArray& path, int* error);
// The deepest folder of path that exists; the names below it that do not go to missing.
QByteArray nearestExisting(const QByteArray& path, QList<QByteArray>* missing);
// Is the folder at fd the one with identity outer, or below it in the mount tree?
bool walksUpTo(int fd, const Identity& outer);
// Is the folder at innerFd the folder at outerFd or inside it, bind mounts included?
bool isWithin(int innerFd, int outerFd);

} // namespace fileop
