#include "cacls/LocalGrant.h"

#include "common/PosixHandles.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace cacls {
namespace {

using posix::UniqueFd;

struct DirCloser {
    void operator()(DIR* d) const noexcept { closedir(d); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

std::string reason(int error)
{
    switch (error) {
    case EPERM:
        return "not permitted (only its owner or root may change its access list)";
    case ENOTSUP:
        // Typically a share mounted over SMB: its access lists live on the server.
        return "the file system does not support access lists (for a mounted share, give its \\\\server\\share path)";
    case EROFS:
        return "the file system is read-only";
    default:
        return std::strerror(error);
    }
}

class Walker {
public:
    Walker(const std::vector<AclGrant>& grants, LocalReport& report)
        : m_grants(grants)
        , m_report(report)
    {}

    // Returns false when the object refused the change.
    bool apply(int fd, const struct stat& st, const std::string& path)
    {
        S_ISDIR(st.st_mode) ? ++m_report.folders : ++m_report.files;
        const AclOutcome outcome = grantOnObject(fd, st, m_grants);
        if (outcome.changed)
            ++m_report.changed;
        if (outcome.error == 0)
            return true;
        m_report.failures.push_back(path + ": " + outcome.step + ": " + reason(outcome.error));
        return false;
    }

    // Walks the folder open as dirFd (already granted itself); one descriptor per level.
    void walk(UniqueFd dirFd, const std::string& path)
    {
        DirPtr dir(fdopendir(dirFd.get()));
        if (!dir) {
            m_report.failures.push_back(path + ": listing the folder: " + reason(errno));
            return;
        }
        dirFd.release(); // now owned by dir
        errno = 0;
        while (const dirent* entry = readdir(dir.get())) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                visit(dirfd(dir.get()), name, path + "/" + name);
            errno = 0;
        }
        if (errno != 0)
            m_report.failures.push_back(path + ": listing the folder: " + reason(errno));
    }

private:
    void visit(int parentFd, const std::string& name, const std::string& path)
    {
        // O_PATH|O_NOFOLLOW opens a symbolic link itself, so it can be recognised and skipped.
        UniqueFd fd(openat(parentFd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat st {};
        if (fd.get() < 0 || fstat(fd.get(), &st) != 0) {
            m_report.failures.push_back(path + ": " + reason(errno));
            return;
        }
        if (S_ISLNK(st.st_mode)) {
            ++m_report.linksSkipped;
            return;
        }
        if (S_ISREG(st.st_mode)) {
            apply(fd.get(), st, path);
            return;
        }
        if (!S_ISDIR(st.st_mode)) {
            ++m_report.specialsSkipped;
            return;
        }
        // Listing needs a readable descriptor; O_NOFOLLOW again in case the name changed meanwhile.
        UniqueFd dirFd(openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat dirSt {};
        if (dirFd.get() < 0 || fstat(dirFd.get(), &dirSt) != 0) {
            const int error = errno;
            apply(fd.get(), st, path); // an unreadable folder still gets its grant
            m_report.failures.push_back(path + ": opening the folder: " + reason(error));
            return;
        }
        if (dirSt.st_ino != st.st_ino || dirSt.st_dev != st.st_dev) {
            m_report.failures.push_back(path + ": changed while being processed");
            return;
        }
        apply(dirFd.get(), dirSt, path);
        walk(std::move(dirFd), path);
    }

    const std::vector<AclGrant>& m_grants;
    LocalReport& m_report;
};

std::string withoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

} // namespace

LocalReport grantLocal(const std::string& folder, const std::vector<AclGrant>& grants)
{
    LocalReport report;
    Walker walker(grants, report);
    // Without the trailing slash, O_NOFOLLOW also holds for the last component.
    const std::string path = withoutTrailingSlashes(folder);
    UniqueFd fd(open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || fstat(fd.get(), &st) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) {
            report.folderFound = true;
            report.stopped = true;
            report.failures.push_back(folder + ": " + reason(errno));
        }
        return report;
    }
    report.folderFound = true;
    if (S_ISLNK(st.st_mode)) {
        report.stopped = true;
        report.failures.push_back(folder + ": is a symbolic link; give the folder it points to");
        return report;
    }
    if (S_ISREG(st.st_mode)) {
        report.stopped = !walker.apply(fd.get(), st, path);
        return report;
    }
    if (!S_ISDIR(st.st_mode)) {
        report.stopped = true;
        report.failures.push_back(folder + ": is a device, pipe or socket, not a folder or a file");
        return report;
    }
    UniqueFd dirFd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dirFd.get() < 0 || fstat(dirFd.get(), &st) != 0) {
        report.stopped = true;
        report.failures.push_back(folder + ": opening the folder: " + reason(errno));
        return report;
    }
    // If the folder itself refuses, everything below would too: stop at one clear message.
    if (!walker.apply(dirFd.get(), st, path)) {
        report.stopped = true;
        return report;
    }
    walker.walk(std::move(dirFd), path);
    return report;
}

} // namespace cacls
