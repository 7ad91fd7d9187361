#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Whether each new home folder exists, for the preview: a local path by lstat,
// a network path (\\server\share\...) by one listing of its parent folder over
// SMB with the operator's Kerberos ticket (smbclient, the same client, ticket
// and smb.conf the permission tool's smbcacls uses). Reads only.
namespace HomeFolderCheck {

enum class State { Exists, Missing, NotAFolder, NotChecked };

struct Result {
    State state = State::NotChecked;
    QString text; // "yes", "missing", "not a folder: ...", "not checked: ..."
};

QList<Result> check(const QStringList& paths);

} // namespace HomeFolderCheck
