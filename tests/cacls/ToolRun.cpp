#include "ToolRun.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

ToolRun runProgram(const QString& program, const QStringList& args, const ToolOptions& options)
{
    QProcess process;
    process.setProcessEnvironment(options.env);
    if (!options.workingDirectory.isEmpty())
        process.setWorkingDirectory(options.workingDirectory);
    if (options.asNobody)
        process.start("setpriv", QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", program} + args);
    else
        process.start(program, args);
    ToolRun run;
    if (!process.waitForFinished(60000)) {
        ADD_FAILURE() << "could not run " << program.toStdString() << ": " << process.errorString().toStdString();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

ToolRun runCacls(const QStringList& args, const ToolOptions& options)
{
    return runProgram(CACLS_TOOL, args, options);
}

QStringList aclOf(const QString& path)
{
    const ToolRun run = runProgram("getfacl", {"-c", "-p", "-n", path});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    QStringList entries;
    for (QString line : run.out.split('\n', Qt::SkipEmptyParts)) {
        line = line.section('\t', 0, 0).section('#', 0, 0).trimmed();
        if (!line.isEmpty())
            entries << line;
    }
    return entries;
}

QString aclTreeOf(const QString& path)
{
    const ToolRun run = runProgram("getfacl", {"-R", "-p", "-n", path});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    return run.out;
}

QString nssWrapperLibrary()
{
    for (const char* candidate : {"/usr/lib/x86_64-linux-gnu/libnss_wrapper.so",
                                  "/usr/lib/aarch64-linux-gnu/libnss_wrapper.so", "/usr/lib/libnss_wrapper.so"}) {
        if (QFile::exists(candidate))
            return candidate;
    }
    return {};
}

QProcessEnvironment withNssWrapper(QProcessEnvironment env, const QString& passwd, const QString& group)
{
    env.insert("LD_PRELOAD", nssWrapperLibrary());
    env.insert("NSS_WRAPPER_PASSWD", passwd);
    env.insert("NSS_WRAPPER_GROUP", group);
    // An ASan-built tool refuses to start with another library preloaded ahead of its runtime.
    const QString asan = env.value("ASAN_OPTIONS");
    env.insert("ASAN_OPTIONS", (asan.isEmpty() ? QString() : asan + ":") + "verify_asan_link_order=0");
    return env;
}
