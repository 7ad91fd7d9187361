#pragma once

#include <QProcess>
#include <QStringList>
#include <gtest/gtest.h>

#include <ostream>

// Readable QString values in GoogleTest's failure messages.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

// The OpenLDAP command-line tools as an independent witness of what the directory
// holds: they bind with the same Kerberos ticket the program uses. Returns stdout.
inline QString ldapTool(const QString& program, const QStringList& args, const QByteArray& input = {},
                        int* exitCode = nullptr)
{
    QProcess p;
    p.start(program, QStringList{"-Y", "GSSAPI", "-Q"} + args);
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAllStandardOutput());
}

// One attribute ("dn" for the names) of every entry ldapsearch finds, in the server's order.
inline QStringList ldapValues(const QString& base, const QString& scope, const QString& filter,
                              const QString& attribute = "dn")
{
    // Paged, as AD would cap an unpaged answer at 1000.
    const QString out = ldapTool("ldapsearch", {"-LLL", "-o", "ldif-wrap=no", "-E", "pr=500/noprompt", "-b", base, "-s",
                                                scope, filter, attribute == "dn" ? "1.1" : attribute});
    QStringList values;
    for (const QString& line : out.split('\n'))
        if (line.startsWith(attribute + ": ", Qt::CaseInsensitive))
            values << line.mid(attribute.size() + 2);
    return values;
}

inline bool ldapModify(const QString& ldif)
{
    int rc = -1;
    ldapTool("ldapmodify", {}, ldif.toUtf8(), &rc);
    return rc == 0;
}

// An entry of the given class below parent; returns its DN.
inline QString addEntry(const QString& rdn, const QString& parent, const QString& objectClass, const QString& more = {})
{
    const QString dn = rdn + "," + parent;
    EXPECT_TRUE(ldapModify("dn: " + dn + "\nchangetype: add\nobjectClass: " + objectClass + "\n" + more))
        << dn.toStdString();
    return dn;
}

// Without a password the account is created disabled, which is all the update needs.
inline QString addUser(const QString& parent, const QString& sam, const QString& home = {})
{
    return addEntry("CN=" + sam, parent, "user",
                    "sAMAccountName: " + sam + "\n" + (home.isEmpty() ? "" : "homeDirectory: " + home + "\n"));
}

// homeDirectory of each DN as ldapsearch reads it; "<none>" when absent.
inline QStringList homes(const QStringList& dns)
{
    QStringList out;
    for (const QString& dn : dns)
        out << ldapValues(dn, "base", "(objectClass=*)", "homeDirectory").value(0, "<none>");
    return out;
}

// The test's own OUs below base, each removed with everything below it at the end.
struct TestOus {
    QString base;
    QStringList made = {}; // the top ones, removed at the end
    ~TestOus()
    {
        for (const QString& ou : made)
            ldapTool("ldapdelete", {"-r", ou});
    }
    // A fresh OU below parent, or below base when none is given.
    QString add(const QString& name, const QString& parent = {})
    {
        if (parent.isEmpty())
            made << "OU=" + name + "," + base;
        return addEntry("OU=" + name, parent.isEmpty() ? base : parent, "organizationalUnit");
    }
};
