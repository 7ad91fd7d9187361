#pragma once

#include <QProcessEnvironment>
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

ToolRun runProgram(const QString& program, const QStringList& args, const ToolOptions& options = {});
inline ToolRun runCacls(const QStringList& args, const ToolOptions& options = {})
{
    return runProgram(CACLS_TOOL, args, options);
}

// getfacl -n of one object, one entry a line ("user:1:rwx", "default:mask::rwx"), no comments.
QStringList aclOf(const QString& path);
// getfacl -R -n of a whole tree, for before/after comparisons.
QString aclTreeOf(const QString& path);

// Preloads nss_wrapper (the given library, or the system's) into this child only.
QProcessEnvironment withNssWrapper(QProcessEnvironment env, QString library = {});
