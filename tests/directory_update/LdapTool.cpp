#include "LdapTool.h"

#include <QProcess>
#include <QRegularExpression>

namespace LdapTool {

static Result run(const QString& program, const QStringList& args, const QByteArray& input = {})
{
    QProcess p;
    p.start(program, args);
    Result r;
    if (!p.waitForStarted(10000))
        return r;
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// LDIF folds long lines: a line starting with one blank continues the previous one.
static QString unfold(const QString& ldif)
{
    QString s = ldif;
    return s.replace("\n ", "");
}

Result search(const QStringList& args)
{
    return run("ldapsearch", QStringList{"-Y", "GSSAPI", "-Q", "-LLL", "-o", "ldif-wrap=no"} + args);
}

QStringList dns(const QString& base, const QString& scope, const QString& filter)
{
    // Paged, as AD would cap an unpaged answer at 1000.
    const Result r = search({"-E", "pr=500/noprompt", "-b", base, "-s", scope, filter, "1.1"});
    QStringList out;
    for (const QString& line : unfold(r.out).split('\n'))
        if (line.startsWith("dn: "))
            out << line.mid(4);
    return out;
}

QStringList values(const QString& dn, const QString& attribute)
{
    const Result r = search({"-b", dn, "-s", "base", "(objectClass=*)", attribute});
    QStringList out;
    const QString prefix = attribute + ": ";
    for (const QString& line : unfold(r.out).split('\n')) {
        if (line.startsWith(prefix, Qt::CaseInsensitive))
            out << line.mid(prefix.size());
        else if (line.startsWith(attribute + ":: ", Qt::CaseInsensitive)) // base64: non-ASCII or special
            out << QString::fromUtf8(QByteArray::fromBase64(line.mid(attribute.size() + 3).toLatin1()));
    }
    return out;
}

Result modify(const QString& ldif)
{
    return run("ldapmodify", {"-Y", "GSSAPI", "-Q"}, ldif.toUtf8());
}

bool addOu(const QString& parentDn, const QString& name)
{
    return modify(QString("dn: OU=%1,%2\nchangetype: add\nobjectClass: organizationalUnit\n\n").arg(name, parentDn))
               .exitCode == 0;
}

bool addUser(const QString& parentDn, const QString& cn, const QString& sam)
{
    // No password: the account is created disabled, which is all the update needs.
    return modify(QString("dn: CN=%1,%2\nchangetype: add\nobjectClass: user\nsAMAccountName: %3\n\n")
                      .arg(cn, parentDn, sam))
               .exitCode == 0;
}

bool deleteTree(const QString& dn)
{
    const Result r = run("ldapdelete", {"-Y", "GSSAPI", "-Q", "-r", dn});
    return r.exitCode == 0 || r.exitCode == 32; // 32: already gone
}

} // namespace LdapTool
