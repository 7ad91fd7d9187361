// The permission fix on network home folders, against the Samba AD test domain:
//   1. one smbcacls run per account (both entries, with propagation), as the permission
//      tool does it, on N home folders of 13 objects (6 files and a folder of 5 files);
//   2. the corvane-smbacl helpers (started inside the timing) on identical copies;
// and the ratio of the two per account. Both leave the same permissions (the tests check that).
// Usage (as root, after the fixture or scripts/directory/samba-dc.sh setup ran):
//   bench_smbacl <state folder, e.g. build/samba-dc> <corvane-smbacl> [accounts=40] [helpers=4]
// Local home folders (no domain needed): the permission tool run twice per folder, one folder
// after another, against PermissionBatch doing several folders at once:
//   bench_smbacl --local <permission tool> [folders=200] [at once=4]
#include "smbacl/GrantPool.h"
#include "smbacl/PermissionBatch.h"

#include <QDir>
#include <QTemporaryDir>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

namespace {

bool loadEnv(const QString& dir)
{
    QFile f(dir + "/env");
    if (!f.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            qputenv(line.left(eq).constData(), line.mid(eq + 1));
    }
    return true;
}

int run(const QString& program, const QStringList& args, const QByteArray& input = {}, QByteArray* out = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    p.waitForStarted();
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(-1);
    const QByteArray text = p.readAllStandardOutput();
    if (out)
        *out = text;
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

QString sam(int i)
{
    return QString("smbbench.%1").arg(i, 4, 10, QChar('0'));
}

QString sidText(const QByteArray& b)
{
    if (b.size() < 8)
        return {};
    quint64 authority = 0;
    for (int i = 2; i < 8; ++i)
        authority = authority << 8 | static_cast<unsigned char>(b[i]);
    QString text = QString("S-%1-%2").arg(static_cast<unsigned char>(b[0])).arg(authority);
    for (int i = 8; i + 4 <= b.size(); i += 4) {
        quint32 sub = 0;
        for (int k = 3; k >= 0; --k)
            sub = sub << 8 | static_cast<unsigned char>(b[i + k]);
        text += QString("-%1").arg(sub);
    }
    return text;
}

// sAMAccountName -> objectSid of every account below base matching filter.
QMap<QString, QString> sids(const QString& base, const QString& filter)
{
    QByteArray out;
    run("ldapsearch",
        {"-Y", "GSSAPI", "-Q", "-LLL", "-o", "ldif-wrap=no", "-b", base, filter, "sAMAccountName", "objectSid"}, {},
        &out);
    QMap<QString, QString> found;
    QString name, sid;
    for (const QByteArray& line : out.split('\n') + QList<QByteArray>{""}) {
        if (line.startsWith("sAMAccountName: "))
            name = QString::fromUtf8(line.mid(16));
        else if (line.startsWith("objectSid:: "))
            sid = sidText(QByteArray::fromBase64(line.mid(12)));
        else if (line.isEmpty() && !name.isEmpty()) {
            found.insert(name, sid);
            name.clear();
            sid.clear();
        }
    }
    return found;
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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc >= 3 && QByteArray(argv[1]) == "--local")
        return benchLocal(QString::fromLocal8Bit(argv[2]), argc > 3 ? std::atoi(argv[3]) : 200,
                          argc > 4 ? static_cast<unsigned>(std::atoi(argv[4])) : 4);
    if (argc < 3 || !loadEnv(argv[1])) {
        std::fprintf(stderr, "usage: %s <samba-dc state folder> <corvane-smbacl> [accounts] [helpers]\n", argv[0]);
        return 2;
    }
    const int users = argc > 3 ? std::atoi(argv[3]) : 40;
    const unsigned helpers = argc > 4 ? static_cast<unsigned>(std::atoi(argv[4])) : 4;
    const QString base = qEnvironmentVariable("DC_BASE_DN"), ou = "OU=SmbBench," + base;
    const QString conf = qEnvironmentVariable("SMB_CONF_PATH"), share = qEnvironmentVariable("DC_SMB_SHARE");
    const QString group = qEnvironmentVariable("DC_ADMIN_GROUP"), domain = qEnvironmentVariable("DC_DOMAIN");
    // The server's name resolves through nss_wrapper, for smbcacls and the helpers alike.
    qputenv("LD_PRELOAD", qgetenv("DC_NSS_WRAPPER_SO"));

    run("ldapdelete", {"-Y", "GSSAPI", "-Q", "-r", ou});
    QByteArray ldif = QString("dn: %1\nchangetype: add\nobjectClass: organizationalUnit\n\n").arg(ou).toUtf8();
    for (int i = 0; i < users; ++i)
        ldif += QString("dn: CN=%1,%2\nchangetype: add\nobjectClass: user\nsAMAccountName: %1\n\n")
                    .arg(sam(i), ou)
                    .toUtf8();
    run("ldapmodify", {"-Y", "GSSAPI", "-Q", "-c"}, ldif);
    const QMap<QString, QString> userSids = sids(ou, "(objectClass=user)");
    const QString groupSid = sids(base, QString("(sAMAccountName=%1)").arg(group)).value(group);
    if (userSids.size() != users || groupSid.isEmpty()) {
        std::fprintf(stderr, "accounts not made (%d of %d, group %s)\n", int(userSids.size()), users,
                     qPrintable(groupSid));
        return 1;
    }

    // Identical home folders: "o" for smbcacls, "f" for the helpers.
    QString make;
    for (int i = 0; i < users; ++i)
        for (const char* side : {"o", "f"}) {
            const QString home = QString("smbbench-%1-%2").arg(side).arg(i);
            make += QString("deltree %1; mkdir %1; cd %1; mkdir Documents; ").arg(home);
            for (int k = 0; k < 6; ++k)
                make += QString("put %1 file%2.txt; ").arg(conf).arg(k);
            for (int k = 0; k < 5; ++k)
                make += QString("put %1 Documents\\doc%2.txt; ").arg(conf).arg(k);
            make += "cd \\; ";
        }
    run("smbclient", {"-s", conf, "--use-kerberos=required", "-N", share, "-c", make});

    QElapsedTimer t;
    t.start();
    int failed = 0;
    for (int i = 0; i < users; ++i)
        failed +=
            run("smbcacls",
                {"-s", conf, "--use-kerberos=required", "-N", "--set-security-info=4", "--propagate-inheritance", "-a",
                 QString("ACL:%1\\%2:ALLOWED/OI|CI/FULL,ACL:%1\\%3:ALLOWED/OI|CI/FULL").arg(domain, sam(i), group),
                 share, QString("smbbench-o-%1").arg(i)}) != 0;
    const double smbcacls = t.nsecsElapsed() / 1e9 / users;
    std::printf("smbcacls, one run per account: %d accounts in %.2f s = %.1f ms per account (%d failed)\n", users,
                smbcacls * users, smbcacls * 1000, failed);

    const QString unc = qEnvironmentVariable("DC_HOMES_UNC");
    std::vector<smbacl::GrantRequest> requests;
    for (int i = 0; i < users; ++i)
        requests.push_back({QString("%1\\smbbench-f-%2").arg(unc).arg(i).toStdString(),
                            {{(domain + "\\" + sam(i)).toStdString(), userSids.value(sam(i)).toStdString()},
                             {(domain + "\\" + group).toStdString(), groupSid.toStdString()}}});
    for (int round = 1; round <= 2; ++round) {
        smbacl::PoolOptions options;
        options.helper = argv[2];
        options.workers = helpers;
        t.restart();
        smbacl::GrantPool pool(options);
        const auto outcomes = pool.grantAll(requests);
        const double fast = t.nsecsElapsed() / 1e9 / users;
        std::size_t objects = 0, written = 0;
        failed = 0;
        for (const auto& o : outcomes) {
            failed += !o.ok;
            objects += o.objects;
            written += o.written;
        }
        std::printf("corvane-smbacl, %u helpers (%s run, start included): %d accounts in %.2f s = %.1f ms per "
                    "account (%d failed; %zu objects read, %zu written%s%s)\n",
                    helpers, round == 1 ? "first" : "second", users, fast * users, fast * 1000, failed, objects,
                    written, pool.fallbackReason().empty() ? "" : "; fell back: ", pool.fallbackReason().c_str());
        if (round == 1)
            std::printf("ratio, time per account against one smbcacls run per account: %.3f\n", fast / smbcacls);
    }

    QString clean;
    for (int i = 0; i < users; ++i)
        clean += QString("deltree smbbench-o-%1; deltree smbbench-f-%1; ").arg(i);
    run("smbclient", {"-s", conf, "--use-kerberos=required", "-N", share, "-c", clean});
    run("ldapdelete", {"-Y", "GSSAPI", "-Q", "-r", ou});
    return 0;
}
