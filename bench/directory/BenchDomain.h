#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// What the directory benchmarks share: the test domain's environment, the LDAP and
// SMB client programs, accounts made in one OU. Everything runs as the domain
// Administrator of the fixture's ticket.
namespace bench {

// The fixture's env file (KEY=VALUE lines) into this process's environment.
bool loadEnv(const QString& dcDir);

// Runs program with args and input; returns its exit code (-1: it crashed), its
// standard output into out when given. Its standard error goes to ours.
int run(const QString& program, const QStringList& args, const QByteArray& input = {}, QByteArray* out = nullptr);

// The OU (made anew, with whatever it held removed first) with one user per name.
bool makeUsers(const QString& ou, const QStringList& sams);
void removeOu(const QString& ou);

// sAMAccountName -> objectSid text of every entry below base matching filter.
QMap<QString, QString> sids(const QString& base, const QString& filter);

// Runs smbclient commands on the fixture's share; false when it failed.
bool onShare(const QString& commands);

// The command that makes a home folder of 13 objects on the share: 6 files and a
// folder (Documents) with 5 more, under the given name.
QString makeHomeCommand(const QString& name);

} // namespace bench
