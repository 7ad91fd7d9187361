#pragma once

#include "FileOperation.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <sys/types.h>

// Network paths (\\server\share\rest, //server/share/rest) as this computer
// reaches them: through the mount point of that CIFS/SMB3 share. The copy
// always runs on local paths; a network path is never taken as a local name.
namespace fileop {

struct NetworkPath {
    QString server;
    QString share;
    QStringList rest; // the folders below the share, in order
};

// Server, share and rest of a path that begins with two separators (\ or /,
// in any mix); nullopt for any other path. Server or share may be empty when
// the path names none.
std::optional<NetworkPath> parseNetworkPath(const QString& path);

// Server names compared as Windows does: without case, and a short name
// ("dc1") matches the full one ("dc1.school.local"). Addresses match only
// themselves.
bool sameServer(const QString& a, const QString& b);

// One mounted SMB share, as /proc/self/mountinfo lists it.
struct ShareMount {
    QString server;
    QString share;
    QStringList prefix; // the folders of the share the mount shows at its root
    QString mountPoint;
    dev_t device = 0;
};

// The mounted cifs and smb3 shares listed in a mountinfo file; a file that
// cannot be read gives an empty list and its reason in error.
QList<ShareMount> readShareMounts(const QString& mountinfo, QString* error = nullptr);

struct MappedPath {
    QString path;    // the local path to work on; empty when refused
    QString refusal; // why the path cannot be used, in words for the operator and the log
    QString share;   // \\server\share when a network path was mapped, else empty
    MountRoot mount; // where the share was mounted, and its root then
    bool ok() const { return refusal.isEmpty(); }
};

// A network path becomes the same place under the mount point of its share;
// with no such share mounted it is refused, with how to mount it. A Windows
// drive path (C:\...) is refused too. Any other path is returned as it is.
MappedPath mapNetworkPath(const QString& path, const QString& mountinfo = QStringLiteral("/proc/self/mountinfo"));

// A destination whose missing part holds a backslash would become a folder
// named after a Windows path ("new\homes"): the reason it is refused, or an
// empty string. Existing folders may have any name.
QString backslashRefusal(const QString& destination);

// The command that mounts a share, as the refusal suggests it.
QString mountCommand(const QString& server, const QString& share);

} // namespace fileop
