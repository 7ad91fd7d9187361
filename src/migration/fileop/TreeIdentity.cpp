// Identities and path arithmetic: which folder a descriptor is, and where a path goes.
#include "TreeIdentity.h"

#include "FileOperation.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace fileop {

// A bounded walk up ".." that stops at the root.
bool walksUpTo(int fd, const Identity& outer)
{
    UniqueFd cur(::openat(fd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (int depth = 0; cur.valid() && depth < 4096; ++depth) {
        struct stat st {};
        if (::fstat(cur.get(), &st) != 0)
            return false;
        if (identityOf(st) == outer)
            return true;
        UniqueFd up(::openat(cur.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct stat ust {};
        if (!up.valid() || ::fstat(up.get(), &ust) != 0 || identityOf(ust) == identityOf(st))
            return false;
        cur = std::move(up);
    }
    return false;
}

QByteArray parentOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArrayLiteral("/") : path.left(slash);
}

QByteArray baseName(const QByteArray& path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

QByteArray realPath(const QByteArray& path, int* error)
{
    char* resolved = ::realpath(path.constData(), nullptr);
    if (!resolved) {
        *error = errno;
        return {};
    }
    QByteArray out(resolved);
    ::free(resolved);
    return out;
}

// The canonical form of a path that may not exist yet: its nearest existing
// ancestor resolved, the missing rest appended.
QByteArray canonicalFuture(const QByteArray& path, int* error)
{
    QList<QByteArray> missing;
    QByteArray out = realPath(nearestExisting(path, &missing), error);
    if (out.isEmpty())
        return {};
    for (const QByteArray& name : std::as_const(missing))
        out = joinPath(out, name);
    return out;
}

QByteArray joinPath(const QByteArray& dir, const QByteArray& name)
{
    return (dir.endsWith('/') ? dir : dir + "/") + name;
}

// The deepest folder of path that exists; the names below it that do not go to missing.
QByteArray nearestExisting(const QByteArray& path, QList<QByteArray>* missing)
{
    QByteArray existing = path;
    while (existing != "/" && ::access(existing.constData(), F_OK) != 0) {
        if (missing)
            missing->prepend(baseName(existing));
        existing = parentOf(existing);
    }
    return existing;
}

// Is the folder at innerFd the folder at outerFd or inside it? Walking ".." follows
// the mount tree, where a bind mount hides its real parents; so on the same file
// system the inner folder is also reopened by handle through the outer folder's
// mount, where ".." climbs the file system itself (needs root, as only root can
// make such a mount).
bool isWithin(int innerFd, int outerFd)
{
    struct stat outer {};
    struct stat inner {};
    if (::fstat(outerFd, &outer) != 0 || ::fstat(innerFd, &inner) != 0)
        return false;
    if (walksUpTo(innerFd, identityOf(outer)))
        return true;
    if (inner.st_dev != outer.st_dev)
        return false;
    alignas(file_handle) unsigned char buffer[sizeof(file_handle) + MAX_HANDLE_SZ] = {};
    auto* handle = reinterpret_cast<file_handle*>(buffer);
    handle->handle_bytes = MAX_HANDLE_SZ;
    int mountId = 0;
    if (::name_to_handle_at(innerFd, "", handle, &mountId, AT_EMPTY_PATH) != 0)
        return false;
    // The mount is named by a descriptor of any object on it, but not an O_PATH one.
    UniqueFd mount(::openat(outerFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    UniqueFd alias(mount.valid() ? ::open_by_handle_at(mount.get(), handle, O_PATH | O_DIRECTORY | O_CLOEXEC) : -1);
    return alias.valid() && walksUpTo(alias.get(), identityOf(outer));
}

} // namespace fileop
