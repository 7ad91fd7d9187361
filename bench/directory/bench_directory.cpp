// Home-path update rate for N users in one OU, against the Samba AD test domain:
//   1. the program's update without the permission fix,
//   2. the same with the fix (the real permission tool, twice per user, on real folders),
//   3. one ldapmodify batch of the same directory changes, for comparison.
// Usage (as root, after the fixture or scripts/directory/samba-dc.sh setup ran):
//   bench_directory <state folder, e.g. build/samba-dc> <permission tool> [users=2000]
#include "BenchDomain.h"
#include "common/modMain.h"
#include "directory_update/Directory.h"
#include "directory_update/HomePathUpdate.h"
#include "directory_update/HomePathUpdateJob.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

int ldapmodify(const QByteArray& ldif)
{
    return bench::run("ldapmodify", {"-Y", "GSSAPI", "-Q", "-c"}, ldif);
}

QString sam(int i)
{
    return QString("bench.%1").arg(i, 5, 10, QChar('0'));
}

// Runs the program's update job over the OU (plan, then run); returns seconds.
double updateAll(const QString& ou, const HomePathUpdate::Settings& settings, int& failures, double& planSeconds)
{
    QElapsedTimer t;
    t.start();
    HomePathUpdateJob job(
        [](DirectoryError& err) -> std::unique_ptr<DirectoryAccess> { return DirectorySession::open(err); });
    DirectoryError err;
    if (!job.plan(ou, false, settings.userPath, err)) {
        std::fprintf(stderr, "plan: %s\n", qPrintable(err.text));
        return -1;
    }
    planSeconds = t.nsecsElapsed() / 1e9;
    job.setSettings(settings);
    failures = job.run();
    return t.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3 || !bench::loadEnv(argv[1])) {
        std::fprintf(stderr, "usage: %s <samba-dc state folder> <permission tool> [users]\n", argv[0]);
        return 2;
    }
    const QString tool = QString::fromLocal8Bit(argv[2]);
    const int users = argc > 3 ? std::atoi(argv[3]) : 2000;
    const QString base = qEnvironmentVariable("DC_BASE_DN");
    const QString ou = "OU=Bench," + base;

    QTemporaryDir work;
    QDir(work.path()).mkpath("app/logs");
    QDir(work.path()).mkpath("app/resources");
    QFile::copy(tool, work.path() + "/app/resources/cacls");
    modMain::SetApplicationFolder(work.path() + "/app");

    // Accounts for the tool through nss_wrapper, and one folder per user.
    QFile passwd("/etc/passwd"), group("/etc/group");
    passwd.open(QIODevice::ReadOnly);
    group.open(QIODevice::ReadOnly);
    QByteArray pw = passwd.readAll(), ldif;
    const QString homes = work.path() + "/homes/";
    // The update grants to DOMAIN\name, as winbind names domain accounts.
    const QString domain = qEnvironmentVariable("DC_DOMAIN", QStringLiteral("SCHOOL"));
    for (int i = 0; i < users; ++i) {
        pw += QString("%1\\%2:x:%3:%3::/nonexistent:/usr/sbin/nologin\n").arg(domain, sam(i)).arg(3200000 + i).toUtf8();
        QDir().mkpath(homes + sam(i) + "/Documents");
        QFile f(homes + sam(i) + "/Documents/notes.txt");
        f.open(QIODevice::WriteOnly);
        f.write("notes\n");
        ldif += QString("dn: CN=%1,%2\nchangetype: add\nobjectClass: user\nsAMAccountName: %1\n\n")
                    .arg(sam(i), ou)
                    .toUtf8();
    }
    QFile pwFile(work.path() + "/passwd"), grFile(work.path() + "/group");
    pwFile.open(QIODevice::WriteOnly);
    pwFile.write(pw);
    pwFile.close();
    grFile.open(QIODevice::WriteOnly);
    grFile.write(group.readAll() + domain.toUtf8() + "\\School Admins:x:3199999:\n");
    grFile.close();

    bench::removeOu(ou);
    QElapsedTimer t;
    t.start();
    ldapmodify(QString("dn: %1\nchangetype: add\nobjectClass: organizationalUnit\n\n").arg(ou).toUtf8() + ldif);
    std::printf("created %d users in %.1f s\n", users, t.nsecsElapsed() / 1e9);

    HomePathUpdate::Settings settings{"School Admins", homes, false};
    int failures = 0;
    double plan = 0;
    double s = updateAll(ou, settings, failures, plan);
    std::printf("update, no permission fix: %d users in %.2f s = %.0f users/s (%d failed; plan %.2f s)\n", users, s,
                users / s, failures, plan);

    qputenv("LD_PRELOAD", qgetenv("DC_NSS_WRAPPER_SO"));
    qputenv("NSS_WRAPPER_PASSWD", pwFile.fileName().toUtf8());
    qputenv("NSS_WRAPPER_GROUP", grFile.fileName().toUtf8());
    settings.fixPermissions = true;
    s = updateAll(ou, settings, failures, plan);
    qunsetenv("LD_PRELOAD");
    std::printf("update with permission fix: %d users in %.2f s = %.0f users/s (%d failed; plan %.2f s)\n", users, s,
                users / s, failures, plan);

    QByteArray batch;
    for (int i = 0; i < users; ++i)
        batch += QString("dn: CN=%1,%2\nchangetype: modify\nreplace: homeDirectory\nhomeDirectory: %3%1x\n-\n\n")
                     .arg(sam(i), ou, homes)
                     .toUtf8();
    t.restart();
    const int rc = ldapmodify(batch);
    s = t.nsecsElapsed() / 1e9;
    std::printf("one ldapmodify batch: %d changes in %.2f s = %.0f changes/s (exit %d)\n", users, s, users / s, rc);

    bench::removeOu(ou);
    modMain::SetApplicationFolder(QString());
    return 0;
}
