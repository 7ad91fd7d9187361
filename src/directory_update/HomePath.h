#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The rules a home folder's path must meet before it is written into an
// account: the user path the operator configured, the network form
// \\server\share\..., and the length a Windows client can still map. One
// parser for network paths, used by the plan, the folder check and the
// creation of missing folders alike.
namespace HomePath {

// What a Windows client maps as a home folder: longer paths are refused.
constexpr qsizetype kMaxLength = 260;

struct Unc {
    QString server;
    QString share;
    QStringList below; // folders below the share, outermost first
    // "//server/share", as smbclient takes a share.
    QString service() const { return QStringLiteral("//") + server + u'/' + share; }
};

// \\server\share\a\b as its parts; nullopt with *error set when it is not one.
// "." and ".." are refused (the permission tool refuses them too: they could
// name another folder), as are empty parts, forward slashes and control characters.
std::optional<Unc> parseUnc(const QString& path, QString* error = nullptr);
bool isUnc(const QString& path);

// True when text holds a character that would reorder or split a line: the
// ones the logs escape (control characters, NUL, direction overrides, line separators).
bool hasControls(const QString& text);

// Why the user path cannot be the root of the home folders, or "" when it can:
// a network path by the rules above, or an absolute local path without "." or
// ".."; no control characters; ending in the separator of its kind, so that the
// logon name makes a folder inside it; short enough to leave room for a name.
QString userPathProblem(const QString& userPath);
// Why one account's home path cannot be written, or "" when it can (its length).
QString homePathProblem(const QString& homePath);

} // namespace HomePath
