// The domain's own facts the permission fix needs: its NetBIOS name and the SID of an account.
#include "Directory.h"

#include <ldap.h>

QString DirectorySession::netbiosDomain(DirectoryError& err)
{
    const QString domainDn = readRootDse(QStringLiteral("defaultNamingContext"), err);
    if (err)
        return {};
    const QString configuration = readRootDse(QStringLiteral("configurationNamingContext"), err);
    if (err)
        return {};
    QString name;
    const QString partitions = QStringLiteral("CN=Partitions,") + configuration;
    if (!search(
            partitions, DirectoryScope::OneLevel,
            QStringLiteral("(&(objectClass=crossRef)(nCName=%1))").arg(filterValue(domainDn)),
            {QStringLiteral("nETBIOSName")},
            [&name](const DirectoryEntry& e) { return name = e.values.value(0), false; }, err))
        return {};
    if (name.isEmpty()) {
        err.code = LDAP_NO_SUCH_ATTRIBUTE;
        err.object = partitions;
        err.text = QStringLiteral("the directory names no NetBIOS domain for ") + domainDn;
    }
    return name;
}

QString DirectorySession::accountSid(const QString& sam, DirectoryError& err)
{
    const QString domainDn = readRootDse(QStringLiteral("defaultNamingContext"), err);
    if (err)
        return {};
    QString sid;
    bool found = false;
    if (!search(
            domainDn, DirectoryScope::Subtree, QStringLiteral("(sAMAccountName=%1)").arg(filterValue(sam)),
            {QStringLiteral("objectSid")},
            [&](const DirectoryEntry& e) {
                sid = e.values.value(0);
                return found = true, false;
            },
            err))
        return {};
    if (!found || sid.isEmpty()) {
        err.code = LDAP_NO_SUCH_OBJECT;
        err.object = sam;
        err.text = QStringLiteral("no account or group named %1 in ").arg(sam) + domainDn;
        return {};
    }
    return sid;
}
