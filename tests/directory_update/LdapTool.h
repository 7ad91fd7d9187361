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

// A fresh OU below parent, or below base when none is given; such a top OU goes
// to made, for the test to remove with everything below it at the end.
inline QString addOu(const QString& base, QStringList& made, const QString& name, const QString& parent = {})
{
    const QString ou = "OU=" + name + "," + (parent.isEmpty() ? base : parent);
    if (parent.isEmpty())
        made << ou;
    EXPECT_TRUE(ldapModify("dn: " + ou + "\nchangetype: add\nobjectClass: organizationalUnit\n"));
    return ou;
}
