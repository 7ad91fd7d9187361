// The inode table of a copy: claim, placed, later names.
#include "HardLinks.h"

namespace fileop {

bool HardLinks::claim(const Identity& inode, const FileJob* job)
{
    std::lock_guard lock(m_mutex);
    const auto [it, first] = m_inodes.try_emplace(inode);
    if (first)
        it->second.job = job;
    return first || it->second.job == job;
}

void HardLinks::placed(const Identity& inode, const FileJob* job, const QByteArray& name)
{
    std::lock_guard lock(m_mutex);
    FirstCopy& copy = m_inodes[inode];
    if (copy.job == job)
        copy.placed = name;
}

void HardLinks::defer(FileJob* job, const Identity& inode)
{
    std::lock_guard lock(m_mutex);
    m_later.emplace_back(job, inode);
}

HardLinks::FirstCopy HardLinks::firstCopy(const Identity& inode) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_inodes.find(inode);
    return it == m_inodes.end() ? FirstCopy{} : it->second;
}

void HardLinks::takeOver(const Identity& inode, const FileJob* job)
{
    std::lock_guard lock(m_mutex);
    m_inodes[inode] = FirstCopy{job, {}};
}

} // namespace fileop
