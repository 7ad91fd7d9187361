#pragma once

#include <QString>
#include <QStringList>

#include <ostream>

// Readable QString values in GoogleTest's failure messages.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

// The OpenLDAP command-line tools as an independent witness of what the
// directory holds: they bind with the same Kerberos ticket the program uses.
namespace LdapTool {

struct Result {
    int exitCode = -1;
    QString out;
    QString err;
};

// ldapsearch -Y GSSAPI -Q -LLL (server from LDAPCONF) with extra arguments.
Result search(const QStringList& args);
// DNs of the entries below base that match filter; scope "base", "one" or "sub".
QStringList dns(const QString& base, const QString& scope, const QString& filter);
// The values of one attribute of one entry.
QStringList values(const QString& dn, const QString& attribute);
// ldapmodify -Y GSSAPI -Q with LDIF on standard input.
Result modify(const QString& ldif);
// Adds an OU (and returns its DN) below parent; deleteTree removes a subtree.
bool addOu(const QString& parentDn, const QString& name);
bool addUser(const QString& parentDn, const QString& cn, const QString& sam);
bool deleteTree(const QString& dn);

} // namespace LdapTool
