#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Runs the built permission tool (or any helper) as a real child process and
// reads ACLs back with getfacl, independently of the tool's own libacl code.
struct ToolRun {
    int exitCode = -1;
    QString out;
    QString err;
};

struct ToolOptions {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QString workingDirectory;
    bool asNobody = false; // drop to the unprivileged user first (setpriv)
};

ToolRun runCacls(const QStringList& args, const ToolOptions& options = {});
ToolRun runProgram(const QString& program, const QStringList& args, const ToolOptions& options = {});

// getfacl -n of one object: its entries, "user:1:rwx", "default:mask::rwx" ...,
// without comments and effective-rights remarks.
QStringList aclOf(const QString& path);
// getfacl -R -n of a whole tree, for before/after comparisons.
QString aclTreeOf(const QString& path);

// Environment that makes NSS read the given passwd/group files (nss_wrapper) for this child only.
QProcessEnvironment withNssWrapper(QProcessEnvironment env, const QString& passwd, const QString& group);
QString nssWrapperLibrary();
