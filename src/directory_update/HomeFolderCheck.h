#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Whether each new home folder exists, before any account is pointed at it: a
// local path by lstat, a network path (\\server\share\...) by one listing of
// its parent folder over SMB with the operator's Kerberos ticket (smbclient,
// the same client, ticket and smb.conf the permission tool's smbcacls uses).
// It also creates a missing folder when the operator asks for it.
namespace HomeFolderCheck {

enum class State { Exists, Missing, NotAFolder, NotChecked };

struct Result {
    State state = State::NotChecked;
    QString text; // "yes", "missing", "not a folder: ...", "not checked: ..."
};

QList<Result> check(const QStringList& paths);

// Creates one missing home folder: a local one with mode 0700, owned by owner
// (a qualified "DOMAIN\name") when this system knows that account; a network
// one through smbclient with the same ticket. Returns "" when made, else why not.
QString create(const QString& path, const QString& owner);

// smbclient's arguments for a share ("//server/share"): never a password
// prompt, the ticket only, and SMB_CONF_PATH when it is set.
QStringList smbClientArguments(const QString& service);

} // namespace HomeFolderCheck
