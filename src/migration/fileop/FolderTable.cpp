// The folder table of a run: reaching closed folders by identity, closing finished ones, their paths.
#include "FolderTable.h"

#include "FileCopy.h"
#include "FileOperation.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <ranges>

namespace fileop {

DirNode* FolderTable::add(std::unique_ptr<DirNode> node)
{
    std::lock_guard lock(m_mutex);
    return m_dirs.emplace_back(std::move(node)).get();
}

size_t FolderTable::size() const
{
    std::lock_guard lock(m_mutex);
    return m_dirs.size();
}

DirNode* FolderTable::at(size_t index) const
{
    std::lock_guard lock(m_mutex);
    return m_dirs[index].get();
}

Reached FolderTable::src(const DirNode* dir, UniqueFd& holder) const
{
    return dir->src.valid() ? Reached{dir->src.get()} : reach(dir, true, holder);
}

Reached FolderTable::dst(const DirNode* dir, UniqueFd& holder) const
{
    return dir->dst.valid() ? Reached{dir->dst.get()} : reach(dir, false, holder);
}

// A folder closed to save descriptors is reached again from its nearest open
// ancestor, one name at a time, never through a link, and each step only if
// it is still the folder first listed: a user who swaps a folder of their
// tree for a link cannot send the run anywhere else. During the walk only
// under m_reachMutex, or for a folder whose holds keep it open.
Reached FolderTable::reach(const DirNode* dir, bool source, UniqueFd& holder) const
{
    std::vector<const DirNode*> chain;
    const DirNode* open = dir;
    while (open && !(source ? open->src : open->dst).valid()) {
        chain.push_back(open);
        open = open->parent;
    }
    if (!open)
        return {.fd = -1, .error = Cause::system(EBADF)};
    int fd = (source ? open->src : open->dst).get();
    for (const DirNode* node : std::views::reverse(chain)) {
        UniqueFd next;
        if (const Cause e = openChecked(fd, *node, source, O_PATH, next); e.failed()) {
            holder.reset();
            return {.fd = -1, .error = e};
        }
        holder = std::move(next);
        fd = holder.get();
    }
    return {fd};
}

Cause FolderTable::openChecked(int parentFd, const DirNode& node, bool source, int flags, UniqueFd& out)
{
    const QByteArray& name = source ? node.srcName : node.dstName;
    flags |= O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    if (source && !(flags & O_PATH)) {
        Opened opened = openSource(parentFd, name.constData(), flags);
        if (!opened.ok())
            return Cause::ofFolderOpen(opened.error);
        out = std::move(opened.fd);
    } else {
        out.reset(::openat(parentFd, name.constData(), flags));
        if (!out.valid())
            return Cause::ofFolderOpen(errno);
    }
    struct stat st {};
    if (::fstat(out.get(), &st) != 0) {
        const Cause e = Cause::system(errno);
        out.reset();
        return e;
    }
    if (identityOf(st) != (source ? node.srcId : node.dstId)) {
        out.reset();
        return Cause::changed();
    }
    return {};
}

// The descriptors are opened again when the folder is listed: a wide tree
// would otherwise hold two for every folder still waiting its turn. While
// descriptors are plenty, the source folder stays open for its listing.
bool FolderTable::keepOpen(UniqueFd& from, UniqueFd& into)
{
    if (m_openFds >= m_fdBudget / 2)
        return false;
    into = std::move(from);
    m_openFds++;
    return true;
}

FolderTable::OpenError FolderTable::openForListing(DirNode& node)
{
    // The parent may be closed by now: it is reached through its ancestors,
    // which no other lister may close meanwhile.
    std::shared_lock reach(m_reachMutex);
    UniqueFd sh;
    UniqueFd dh;
    if (!node.src.valid()) {
        const Reached parent = src(node.parent, sh);
        if (!parent.ok())
            return {parent.error, true};
        if (const Cause e = openChecked(parent.fd, node, true, O_RDONLY, node.src); e.failed())
            return {e, true};
        m_openFds++;
    }
    const Reached parent = dst(node.parent, dh);
    const Cause e = parent.ok() ? openChecked(parent.fd, node, false, O_PATH, node.dst) : parent.error;
    if (e.failed()) {
        node.src.reset();
        m_openFds--;
        return {e, false};
    }
    m_openFds++;
    return {};
}

// Every folder stays open for the later passes while descriptors are plenty.
// Past the budget, a lister closes the folders whose files are all done,
// oldest first, and waits for the workers when the oldest is still in use:
// they take files in queue order, so it is soon free. It waits only for
// folders found before its own, which other listers have taken already.
void FolderTable::closeFinished(size_t listing, const std::atomic<bool>& cancel)
{
    const DirNode* waitFor = nullptr;
    while (m_openFds > m_fdBudget && !cancel.load()) {
        {
            std::unique_lock reach(m_reachMutex);
            if (m_closeFrom >= listing)
                return;
            DirNode& oldest = *at(m_closeFrom);
            if (oldest.holds.load() == 0) {
                for (UniqueFd* fd : {&oldest.src, &oldest.dst}) {
                    if (fd->valid()) {
                        fd->reset();
                        m_openFds--;
                    }
                }
                ++m_closeFrom;
                continue;
            }
            waitFor = &oldest;
        }
        // Woken by the last release of its holds, or by a cancelled run.
        std::unique_lock lock(m_holdsMutex);
        ++m_holdsWaiting;
        m_holdsCv.wait(lock, [&] { return waitFor->holds.load() == 0 || cancel.load(); });
        --m_holdsWaiting;
    }
}

void FolderTable::releaseHold(DirNode& node)
{
    if (node.holds.fetch_sub(1) == 1) {
        std::lock_guard lock(m_holdsMutex);
        if (m_holdsWaiting > 0)
            m_holdsCv.notify_all();
    }
}

void FolderTable::wakeClosers()
{
    std::lock_guard lock(m_holdsMutex);
    m_holdsCv.notify_all();
}

void FolderTable::markKeep(DirNode* dir)
{
    for (; dir && !dir->keep.exchange(true); dir = dir->parent) {
    }
}

QString FolderTable::pathOf(const DirNode* dir, const QByteArray& name, bool source) const
{
    QByteArray rel;
    for (; dir && dir->parent; dir = dir->parent) {
        const QByteArray& n = source ? dir->srcName : dir->dstName;
        rel = rel.isEmpty() ? n : n + "/" + rel;
    }
    QByteArray p = parentOf(source ? m_sourcePath : m_targetPath);
    for (const QByteArray& part : {rel, name})
        if (!part.isEmpty())
            p += (p.endsWith('/') ? "" : "/") + part;
    return QString::fromLocal8Bit(p);
}

} // namespace fileop
