#pragma once

#include <QMap>
#include <QString>

// The throw-away Samba AD domain controller that the CTest fixture "samba_dc"
// starts (scripts/directory/samba-dc.sh). load() reads the KEY=VALUE file the
// fixture writes and puts every key into this process's environment, so libldap,
// Kerberos and child processes find the domain. LD_PRELOAD is never set here:
// a test that needs the server's name resolved (SMB) preloads nssWrapperSo in
// its own child processes.
struct SambaDc {
    bool ok = false;
    QString error; // why load() failed: the fixture did not run or failed

    QString dir;           // the fixture's state folder
    QString address;       // loopback address of LDAP, KDC and SMB
    QString ldapUri;       // ldap://<address>
    QString baseDn;        // DC=school,DC=local
    QString realm;         // SCHOOL.LOCAL
    QString domain;        // NetBIOS name, SCHOOL
    QString krb5Config;    // KRB5_CONFIG
    QString krb5Ccname;    // KRB5CCNAME: the domain Administrator's ticket
    QString staffCcname;   // a ticket of the non-admin user t.brown
    QString ldapConf;      // LDAPCONF: URI, BASE, SASL_MECH GSSAPI, REFERRALS off
    QString smbConf;       // SMB_CONF_PATH
    QString smbServer;     // dc1.school.local (resolves only through nss_wrapper)
    QString smbShare;      // //dc1.school.local/homes$
    QString homesUnc;      // \\dc1.school.local\homes$
    QString homesDir;      // the share's folder on disk
    QString adminGroup;    // "School Admins"
    QString adminPassword; // the domain Administrator's, for samba-tool in tests
    QString nssWrapperHosts;
    QString nssWrapperSo;
    QMap<QString, QString> values; // every key of the file

    static SambaDc load(const QString& stateDir);
#ifdef CORVANE_APP_DIR
    // The fixture's folder of this build: <build>/samba-dc.
    static SambaDc load()
    {
        return load(QStringLiteral(CORVANE_APP_DIR "/../samba-dc"));
    }
#endif
};
