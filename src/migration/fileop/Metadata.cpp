// Copies and compares the metadata of files and folders.
#include "Metadata.h"

#include "Placement.h"

#include <QByteArray>

#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace fileop {

namespace {

using Xattrs = std::vector<std::pair<QByteArray, QByteArray>>;

// Every extended attribute of fd, name and value. 0 or errno; a file system
// without them has none.
int readXattrs(int fd, Xattrs& out)
{
    thread_local std::vector<char> names(4096);
    thread_local std::vector<char> value(4096);
    ssize_t n;
    while ((n = ::flistxattr(fd, names.data(), names.size())) < 0 && errno == ERANGE) {
        const ssize_t need = ::flistxattr(fd, nullptr, 0);
        names.resize(static_cast<size_t>(std::max<ssize_t>(need, 0)) + 1024);
    }
    if (n < 0)
        return (errno == ENOTSUP || errno == EOPNOTSUPP) ? 0 : errno;
    for (const char* name = names.data(); name < names.data() + n; name += std::strlen(name) + 1) {
        ssize_t v;
        while ((v = ::fgetxattr(fd, name, value.data(), value.size())) < 0 && errno == ERANGE) {
            const ssize_t need = ::fgetxattr(fd, name, nullptr, 0);
            value.resize(static_cast<size_t>(std::max<ssize_t>(need, 0)) + 1024);
        }
        if (v < 0) {
            if (errno == ENODATA)
                continue;
            return errno;
        }
        out.emplace_back(QByteArray(name), QByteArray(value.data(), static_cast<qsizetype>(v)));
    }
    return 0;
}

int copyXattrs(int in, int out)
{
    Xattrs attrs;
    if (const int e = readXattrs(in, attrs))
        return e;
    for (const auto& [name, value] : attrs) {
        if (::fsetxattr(out, name.constData(), value.constData(), static_cast<size_t>(value.size()), 0) != 0) {
            const int e = errno;
            // A target file system without extended attributes cannot hold them;
            // trusted.* and security.* need privileges we may not have.
            if (e == ENOTSUP || e == EOPNOTSUPP)
                continue;
            if (e == EPERM && (name.startsWith("trusted.") || name.startsWith("security.")))
                continue;
            return e;
        }
    }
    return 0;
}

} // namespace

bool ignorableChownError(int e)
{
    return e == EPERM || e == EINVAL || e == EOPNOTSUPP;
}

bool metadataDiffers(int in, int out, const struct stat& src, const struct stat& dst, const TargetClock& clock)
{
    if ((src.st_mode & 07777) != (dst.st_mode & 07777) || !sameModificationTime(src.st_mtim, dst.st_mtim, clock, false))
        return true;
    if (runningAsRoot() && (src.st_uid != dst.st_uid || src.st_gid != dst.st_gid))
        return true;
    Xattrs have;
    Xattrs want;
    if (readXattrs(in, want) != 0 || readXattrs(out, have) != 0)
        return true;
    return std::ranges::any_of(want, [&](const auto& attr) { return std::ranges::find(have, attr) == have.end(); });
}

int copyMetadata(int srcFd, int dstFd, const struct stat& st)
{
    if (runningAsRoot() && ::fchown(dstFd, st.st_uid, st.st_gid) != 0 && !ignorableChownError(errno))
        return errno;
    if (const int e = copyXattrs(srcFd, dstFd))
        return e;
    if (::fchmod(dstFd, st.st_mode & 07777) != 0)
        return errno;
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(dstFd, times) != 0)
        return errno;
    return 0;
}

} // namespace fileop
