#pragma once

#include "EngineTestSupport.h"

#include <QStringList>

#include <sys/stat.h>
#include <sys/sysmacros.h>

// A mountinfo file whose shares are "mounted" on real temporary folders: the
// line carries the folder's own device, as the kernel's would.
class MountInfo {
public:
    explicit MountInfo(const TempTree& t)
        : m_t(t)
    {}
    // source: //server/share[/prefix]; root: the mount's root field.
    MountInfo& share(const QString& source, const QString& mountRel, const QString& type = "cifs",
                     const QString& root = "/", bool rightDevice = true)
    {
        m_t.write(mountRel + "/.keep", "");
        const struct stat st = m_t.lstat(mountRel);
        m_lines << QStringLiteral("%1 1 %2:%3 %4 %5 rw,relatime shared:1 - %6 %7 rw,vers=3.1.1,sec=krb5,cifsacl")
                       .arg(m_lines.size() + 40)
                       .arg(major(st.st_dev))
                       .arg(minor(st.st_dev) + (rightDevice ? 0 : 1))
                       .arg(escaped(root), escaped(m_t.path(mountRel)), type, source);
        return *this;
    }
    MountInfo& other(const QString& line) { return m_lines << line, *this; }
    QString write() const
    {
        m_t.write("mountinfo", (m_lines.join(u'\n') + u'\n').toUtf8());
        return m_t.path("mountinfo");
    }

private:
    static QString escaped(QString field) { return field.replace(u' ', "\\040"); }
    const TempTree& m_t;
    QStringList m_lines{"22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/vda1 rw"};
};
