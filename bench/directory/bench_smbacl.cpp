// The permission fix on network home folders, against the Samba AD test domain, on N
// home folders of 13 objects (6 files and a folder of 5 files), all in one run:
//   1. one smbcacls run per account (both entries, with propagation), as the permission
//      tool does it;
//   2. the program's update job over the N accounts without the permission fix, then
//      (the directory put back as it was) with it: the fix costs the difference, with the
//      corvane-smbacl helpers started inside the timing;
//   3. the helpers alone (GrantPool) on a third copy of the folders;
// and the ratio of the fix per account to one smbcacls run. All leave the same
// permissions (the tests check that). The load average is printed at the start and end.
// Usage (as root, after the fixture or scripts/directory/samba-dc.sh setup ran):
//   bench_smbacl <state folder, e.g. build/samba-dc> <corvane-smbacl> [accounts=40] [helpers=0: from the cores]
// Local home folders (no domain needed): the permission tool run twice per folder, one folder
// after another, against PermissionBatch doing several folders at once:
//   bench_smbacl --local <permission tool> [folders=200] [at once=4]
#include "BenchDomain.h"
#include "common/modMain.h"
#include "directory_update/Directory.h"
#include "directory_update/HomePathUpdateJob.h"
#include "smbacl/GrantPool.h"
#include "smbacl/PermissionBatch.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace {

QString sam(int i)
{
    return QString("smbbench.%1").arg(i, 4, 10, QChar('0'));
}

QString loadAverage()
{
    QFile f("/proc/loadavg");
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).section(' ', 0, 2) : QString("?");
}

int benchLocal(const QString& tool, int folders, unsigned atOnce)
{
    QTemporaryDir work;
    const auto make = [&](const QString& side) {
        for (int i = 0; i < folders; ++i) {
            const QString home = QString("%1/%2/%3").arg(work.path(), side).arg(i);
            QDir().mkpath(home + "/Documents");
            for (int k = 0; k < 6; ++k) {
                QFile f(QString("%1/file%2.txt").arg(home).arg(k));
                f.open(QIODevice::WriteOnly);
                f.write("x");
            }
            for (int k = 0; k < 5; ++k) {
                QFile f(QString("%1/Documents/doc%2.txt").arg(home).arg(k));
                f.open(QIODevice::WriteOnly);
                f.write("x");
            }
        }
    };
    make("one");
    make("many");
    // Both ways start the tool the same way (posix_spawn): only the number at once differs.
    const auto requestsFor = [&](const QString& side) {
        std::vector<smbacl::GrantRequest> requests;
        for (int i = 0; i < folders; ++i)
            requests.push_back(
                {QString("%1/%2/%3").arg(work.path(), side).arg(i).toStdString(), {{"daemon", ""}, {"adm", ""}}});
        return requests;
    };
    const auto failures = [](const std::vector<smbacl::GrantOutcome>& outcomes) {
        return int(std::count_if(outcomes.begin(), outcomes.end(), [](const auto& o) { return !o.ok; }));
    };
    smbacl::BatchOptions single;
    single.tool = tool.toStdString();
    single.localWorkers = 1;
    QElapsedTimer t;
    t.start();
    int failed = failures(smbacl::PermissionBatch(single).fixAll(requestsFor("one")));
    const double oneByOne = t.nsecsElapsed() / 1e9 / folders;
    std::printf("local, the tool twice per folder, one folder after another: %d folders in %.2f s = %.1f ms per "
                "folder (%d failed)\n",
                folders, oneByOne * folders, oneByOne * 1000, failed);
    const std::vector<smbacl::GrantRequest> requests = requestsFor("many");
    smbacl::BatchOptions options;
    options.tool = tool.toStdString();
    options.localWorkers = atOnce;
    t.restart();
    const auto outcomes = smbacl::PermissionBatch(options).fixAll(requests);
    const double batch = t.nsecsElapsed() / 1e9 / folders;
    failed = failures(outcomes);
    std::printf("local, PermissionBatch, %u folders at once: %d folders in %.2f s = %.1f ms per folder (%d failed); "
                "ratio %.2f\n",
                atOnce, folders, batch * folders, batch * 1000, failed, batch / oneByOne);
    return 0;
}

// The update job over the OU, plan and run, with or without the fix; returns seconds.
double updateJob(const QString& ou, const QString& userPath, bool fix, int& failures, QStringList& log)
{
    QElapsedTimer t;
    t.start();
    HomePathUpdateJob job(
        [](DirectoryError& err) -> std::unique_ptr<DirectoryAccess> { return DirectorySession::open(err); });
    job.setLog([&log](const QString& line) { log << line; });
    job.setSkipFolderCheck(true); // the same for both runs: only the fix differs
    DirectoryError err;
    if (!job.plan(ou, false, userPath, err)) {
        std::fprintf(stderr, "plan: %s\n", qPrintable(err.text));
        return -1;
    }
    job.setSettings({qEnvironmentVariable("DC_ADMIN_GROUP"), userPath, fix});
    failures = job.run();
    return t.nsecsElapsed() / 1e9;
}

int benchDomain(const QString& helper, int users, unsigned helpers)
{
    const QString base = qEnvironmentVariable("DC_BASE_DN"), ou = "OU=SmbBench," + base;
    const QString conf = qEnvironmentVariable("SMB_CONF_PATH"), unc = qEnvironmentVariable("DC_HOMES_UNC");
    const QString group = qEnvironmentVariable("DC_ADMIN_GROUP"), domain = qEnvironmentVariable("DC_DOMAIN");
    std::printf("load average at the start: %s\n", qPrintable(loadAverage()));
    // The server's name resolves through nss_wrapper, for smbcacls and the helpers alike.
    qputenv("LD_PRELOAD", qgetenv("DC_NSS_WRAPPER_SO"));

    QStringList sams;
    for (int i = 0; i < users; ++i)
        sams << sam(i);
    bench::makeUsers(ou, sams);
    const QMap<QString, QString> userSids = bench::sids(ou, "(objectClass=user)");
    const QString groupSid = bench::sids(base, QString("(sAMAccountName=%1)").arg(group)).value(group);
    if (userSids.size() != users || groupSid.isEmpty()) {
        std::fprintf(stderr, "accounts not made (%d of %d, group %s)\n", int(userSids.size()), users,
                     qPrintable(groupSid));
        return 1;
    }
    // Identical home folders: "o" for smbcacls, "smbbench-job" for the job, "f" for the helpers alone.
    QString make = "deltree smbbench-job; mkdir smbbench-job; ";
    for (int i = 0; i < users; ++i)
        make += bench::makeHomeCommand(QString("smbbench-o-%1").arg(i)) +
                bench::makeHomeCommand(QString("smbbench-f-%1").arg(i)) +
                bench::makeHomeCommand("smbbench-job\\" + sam(i));
    bench::onShare(make);

    QElapsedTimer t;
    t.start();
    int failed = 0;
    for (int i = 0; i < users; ++i)
        failed +=
            bench::run(
                "smbcacls",
                {"-s", conf, "--use-kerberos=required", "-N", "--set-security-info=4", "--propagate-inheritance", "-a",
                 QString("ACL:%1\\%2:ALLOWED/OI|CI/FULL,ACL:%1\\%3:ALLOWED/OI|CI/FULL").arg(domain, sam(i), group),
                 qEnvironmentVariable("DC_SMB_SHARE"), QString("smbbench-o-%1").arg(i)}) != 0;
    const double smbcacls = t.nsecsElapsed() / 1e9 / users;
    std::printf("smbcacls, one run per account: %d accounts in %.2f s = %.1f ms per account (%d failed)\n", users,
                smbcacls * users, smbcacls * 1000, failed);

    // The job finds the helper beside the program, as installed.
    QTemporaryDir app;
    QDir(app.path()).mkpath("resources");
    QFile::copy(helper, app.path() + "/resources/corvane-smbacl");
    modMain::SetApplicationFolder(app.path());
    const QString userPath = unc + "\\smbbench-job\\";
    double without = 0;
    QStringList log;
    int jobFailed = 0;
    QByteArray reset;
    for (const QString& s : sams)
        reset += QString("dn: CN=%1,%2\nchangetype: modify\ndelete: homeDirectory\n-\n\n").arg(s, ou).toUtf8();
    // Once untimed (the first run also pays for the directory's first connection and
    // tickets), then three times: the quickest is the least disturbed by the machine's
    // other work, which makes the fix's share, if anything, larger.
    without = 1e9;
    QStringList times;
    for (int round = 0; round < 4; ++round) {
        bench::run("ldapmodify", {"-Y", "GSSAPI", "-Q", "-c"}, reset);
        const double s = updateJob(ou, userPath, false, jobFailed, log);
        if (round > 0) {
            without = std::min(without, s);
            times << QString::number(s, 'f', 2);
        }
    }
    std::printf("update job, no permission fix: %d accounts in %.2f s (the quickest of %s s; %d failed)\n", users,
                without, qPrintable(times.join(", ")), jobFailed);
    bench::run("ldapmodify", {"-Y", "GSSAPI", "-Q", "-c"}, reset);
    log.clear();
    const double with = updateJob(ou, userPath, true, jobFailed, log);
    const double fix = (with - without) / users;
    std::printf("update job with the permission fix: %d accounts in %.2f s (%d failed, %lld fixed%s%s)\n", users, with,
                jobFailed, log.filter(" Fixed Home Drive Permissions").size(),
                log.filter(" Permission Fix: ").isEmpty() ? "" : "; ",
                qPrintable(log.filter(" Permission Fix: ").join("; ")));
    std::printf("the fix, (with - without) / accounts: %.1f ms per account\n", fix * 1000);
    std::printf("ratio, the fix per account against one smbcacls run per account: %.3f\n", fix / smbcacls);

    std::vector<smbacl::GrantRequest> requests;
    for (int i = 0; i < users; ++i)
        requests.push_back({QString("%1\\smbbench-f-%2").arg(unc).arg(i).toStdString(),
                            {{(domain + "\\" + sam(i)).toStdString(), userSids.value(sam(i)).toStdString()},
                             {(domain + "\\" + group).toStdString(), groupSid.toStdString()}}});
    smbacl::PoolOptions options;
    options.helper = helper.toStdString();
    options.workers = helpers;
    t.restart();
    smbacl::GrantPool pool(options);
    const auto outcomes = pool.grantAll(requests);
    const double alone = t.nsecsElapsed() / 1e9 / users;
    failed = int(std::count_if(outcomes.begin(), outcomes.end(), [](const auto& o) { return !o.ok; }));
    std::printf("the helpers alone (%zu started, start included): %.1f ms per account (%d failed%s%s); ratio %.3f\n",
                pool.helpersRunning(), alone * 1000, failed,
                pool.fallbackReason().empty() ? "" : "; fell back: ", pool.fallbackReason().c_str(), alone / smbcacls);
    std::printf("load average at the end: %s\n", qPrintable(loadAverage()));

    QString clean = "deltree smbbench-job; ";
    for (int i = 0; i < users; ++i)
        clean += QString("deltree smbbench-o-%1; deltree smbbench-f-%1; ").arg(i);
    bench::onShare(clean);
    bench::removeOu(ou);
    modMain::SetApplicationFolder(QString());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc >= 3 && QByteArray(argv[1]) == "--local")
        return benchLocal(QString::fromLocal8Bit(argv[2]), argc > 3 ? std::atoi(argv[3]) : 200,
                          argc > 4 ? static_cast<unsigned>(std::atoi(argv[4])) : 4);
    if (argc < 3 || !bench::loadEnv(argv[1])) {
        std::fprintf(stderr, "usage: %s <samba-dc state folder> <corvane-smbacl> [accounts] [helpers]\n", argv[0]);
        return 2;
    }
    return benchDomain(QString::fromLocal8Bit(argv[2]), argc > 3 ? std::atoi(argv[3]) : 40,
                       argc > 4 ? static_cast<unsigned>(std::atoi(argv[4])) : 0);
}
