// Temporary names and atomic placement of new items.
#include "Placement.h"

#include "FileOperation.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace fileop {

namespace {

std::atomic<unsigned> g_tempCounter{0};

} // namespace

bool runningAsRoot()
{
    static const bool root = ::geteuid() == 0;
    return root;
}

// CORVANE_FILEOP_NO_TMPFILE forces the temporary-name path that other file
// systems (vfat, SMB) take.
std::atomic<bool>& tmpfileUsable()
{
    static std::atomic<bool> usable{!::getenv("CORVANE_FILEOP_NO_TMPFILE") &&
                                    (runningAsRoot() || ::access("/proc/self/fd", X_OK) == 0)};
    return usable;
}

QByteArray tempName()
{
    return ".corvane-" + QByteArray::number(::getpid()) + "-" + QByteArray::number(g_tempCounter.fetch_add(1)) + ".tmp";
}

// Makes the item under its final name with create(), which must fail with
// EEXIST when the name is taken. A replacement is made under a temporary name
// first and renamed over the old item, so the old one stays until the new is whole.
int placeAtomically(int dfd, const QByteArray& name, bool replace, bool rename, const Create& create,
                    QByteArray* placedAs)
{
    if (rename) {
        for (int n = 1; n <= kMaxRenameAttempts; ++n) {
            const QByteArray candidate = collisionName(name, n, false);
            const int e = create(candidate.constData());
            if (e != EEXIST) {
                *placedAs = candidate;
                return e;
            }
        }
        return EEXIST;
    }
    if (!replace) {
        *placedAs = name;
        return create(name.constData());
    }
    QByteArray tmp;
    int e = EEXIST;
    for (int n = 0; n < kMaxRenameAttempts && e == EEXIST; ++n) {
        tmp = tempName();
        e = create(tmp.constData());
    }
    if (e != 0)
        return e;
    if (::renameat(dfd, tmp.constData(), dfd, name.constData()) != 0) {
        e = errno;
        ::unlinkat(dfd, tmp.constData(), 0);
        return e;
    }
    *placedAs = name;
    return 0;
}

} // namespace fileop
