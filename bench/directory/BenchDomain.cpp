#include "BenchDomain.h"

#include "directory_update/Directory.h"

#include <QFile>
#include <QProcess>

#include <cstdio>

namespace bench {

bool loadEnv(const QString& dcDir)
{
    QFile f(dcDir + "/env");
    if (!f.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            qputenv(line.left(eq).constData(), line.mid(eq + 1));
    }
    return true;
}

int run(const QString& program, const QStringList& args, const QByteArray& input, QByteArray* out)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    if (!p.waitForStarted())
        return -1;
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(-1);
    const QByteArray text = p.readAllStandardOutput();
    if (out)
        *out = text;
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

void removeOu(const QString& ou)
{
    run("ldapdelete", {"-Y", "GSSAPI", "-Q", "-r", ou});
}

bool makeUsers(const QString& ou, const QStringList& sams)
{
    removeOu(ou);
    QByteArray ldif = QString("dn: %1\nchangetype: add\nobjectClass: organizationalUnit\n\n").arg(ou).toUtf8();
    for (const QString& sam : sams)
        ldif +=
            QString("dn: CN=%1,%2\nchangetype: add\nobjectClass: user\nsAMAccountName: %1\n\n").arg(sam, ou).toUtf8();
    return run("ldapmodify", {"-Y", "GSSAPI", "-Q", "-c"}, ldif) == 0;
}

QMap<QString, QString> sids(const QString& base, const QString& filter)
{
    QByteArray out;
    run("ldapsearch",
        {"-Y", "GSSAPI", "-Q", "-LLL", "-o", "ldif-wrap=no", "-b", base, filter, "sAMAccountName", "objectSid"}, {},
        &out);
    QMap<QString, QString> found;
    QString name, sid;
    for (const QByteArray& line : out.split('\n') + QList<QByteArray>{""}) {
        if (line.startsWith("sAMAccountName: ")) {
            name = QString::fromUtf8(line.mid(16));
        } else if (line.startsWith("objectSid:: ")) {
            sid = sidText(QByteArray::fromBase64(line.mid(12)));
        } else if (line.isEmpty() && !name.isEmpty()) {
            found.insert(name, sid);
            name.clear();
            sid.clear();
        }
    }
    return found;
}

bool onShare(const QString& commands)
{
    // smbclient reports every file it puts: said only when it fails.
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start("smbclient", {"-s", qEnvironmentVariable("SMB_CONF_PATH"), "--use-kerberos=required", "-N",
                          qEnvironmentVariable("DC_SMB_SHARE"), "-c", commands});
    p.waitForFinished(-1);
    const QByteArray said = p.readAll();
    const bool ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok)
        std::fprintf(stderr, "smbclient: %s\n", said.right(2000).constData());
    return ok;
}

QString makeHomeCommand(const QString& name)
{
    const QString file = qEnvironmentVariable("SMB_CONF_PATH");
    QString make = QString("deltree %1; mkdir %1; cd %1; mkdir Documents; ").arg(name);
    for (int k = 0; k < 6; ++k)
        make += QString("put %1 file%2.txt; ").arg(file).arg(k);
    for (int k = 0; k < 5; ++k)
        make += QString("put %1 Documents\\doc%2.txt; ").arg(file).arg(k);
    return make + "cd \\; ";
}

} // namespace bench
