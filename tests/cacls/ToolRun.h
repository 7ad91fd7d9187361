#pragma once

#include <QFile>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

// The built permission tool (or a helper) as a real child process; ACLs are read
// back with getfacl, independently of the tool's own libacl code.
struct ToolRun {
    int exitCode = -1;
    QString out;
    QString err;
};

inline ToolRun runProgram(const QString& program, const QStringList& args,
                          const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    EXPECT_TRUE(p.waitForFinished(60000)) << program.toStdString() << ": " << p.errorString().toStdString();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

// getfacl -n of one object, one entry a line ("user:1:rwx", "default:mask::rwx"), no comments.
inline QStringList aclOf(const QString& path)
{
    return runProgram("getfacl", {"-c", "-E", "-p", "-n", path}).out.split('\n', Qt::SkipEmptyParts);
}

inline QString aclTreeOf(const QString& path)
{
    return runProgram("getfacl", {"-R", "-p", "-n", path}).out;
}

// Preloads nss_wrapper into one child; an ASan-built tool would refuse to start
// with a library preloaded ahead of its runtime, unless told not to check.
inline QProcessEnvironment withNssWrapper(const QString& library)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    EXPECT_TRUE(QFile::exists(library)) << library.toStdString() << ": scripts/install-deps.sh installs libnss-wrapper";
    env.insert("LD_PRELOAD", library);
    env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
    return env;
}
