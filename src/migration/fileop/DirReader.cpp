// Batched folder listing by getdents64.
#include "DirReader.h"

#include <dirent.h>
#include <unistd.h>

#include <cerrno>

namespace fileop {

bool DirReader::next(DirEntries& out)
{
    alignas(dirent64) thread_local char buffer[64 * 1024];
    while (!m_done) {
        const ssize_t n = ::getdents64(m_fd, buffer, sizeof buffer);
        if (n <= 0) {
            m_error = n < 0 ? errno : 0;
            m_done = true;
            return false;
        }
        const size_t before = out.size();
        for (ssize_t at = 0; at < n;) {
            const auto* ent = reinterpret_cast<const dirent64*>(buffer + at);
            at += ent->d_reclen;
            const char* name = ent->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                continue;
            out.emplace_back(QByteArray(name), ent->d_type);
        }
        if (out.size() > before)
            return true;
    }
    return false;
}

int listEntries(int dirFd, DirEntries& entries)
{
    DirReader reader(dirFd);
    while (reader.next(entries)) {
    }
    return reader.error();
}

} // namespace fileop
