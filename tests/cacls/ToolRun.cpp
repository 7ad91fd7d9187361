#include "ToolRun.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

ToolRun runProgram(const QString& program, const QStringList& args, const ToolOptions& options)
{
    QProcess process;
    process.setProcessEnvironment(options.env);
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

QStringList aclOf(const QString& path)
{
    const ToolRun run = runProgram("getfacl", {"-c", "-p", "-n", path});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    QStringList entries;
    for (const QString& line : run.out.split('\n', Qt::SkipEmptyParts)) {
        if (const QString entry = line.section('\t', 0, 0).section('#', 0, 0).trimmed(); !entry.isEmpty())
            entries << entry;
    }
    return entries;
}

QString aclTreeOf(const QString& path)
{
    const ToolRun run = runProgram("getfacl", {"-R", "-p", "-n", path});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    return run.out;
}

QProcessEnvironment withNssWrapper(QProcessEnvironment env, QString library)
{
    for (const char* candidate :
         {"/usr/lib/x86_64-linux-gnu/libnss_wrapper.so", "/usr/lib/aarch64-linux-gnu/libnss_wrapper.so"}) {
        if (library.isEmpty() && QFile::exists(candidate))
            library = candidate;
    }
    EXPECT_FALSE(library.isEmpty()) << "libnss_wrapper.so missing: scripts/install-deps.sh installs libnss-wrapper";
    env.insert("LD_PRELOAD", library);
    // An ASan-built tool refuses to start with another library preloaded ahead of its runtime.
    const QString asan = env.value("ASAN_OPTIONS");
    env.insert("ASAN_OPTIONS", (asan.isEmpty() ? QString() : asan + ":") + "verify_asan_link_order=0");
    return env;
}
