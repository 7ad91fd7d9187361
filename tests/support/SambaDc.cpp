#include "SambaDc.h"

#include <QDir>
#include <QFile>

SambaDc SambaDc::load(const QString& stateDir)
{
    SambaDc dc;
    dc.dir = QDir::cleanPath(stateDir);
    QFile f(dc.dir + "/env");
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        dc.error = "no " + f.fileName() + ": the samba_dc fixture has not run (ctest runs it)";
        return dc;
    }
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).chopped(1);
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        const QString key = line.left(eq);
        const QString value = line.mid(eq + 1);
        if (key == "LD_PRELOAD")
            continue; // never for this process's children by default
        dc.values.insert(key, value);
        qputenv(key.toUtf8().constData(), value.toUtf8());
    }
    const auto v = [&dc](const char* key) {
        return dc.values.value(QString::fromLatin1(key));
    };
    dc.address = v("DC_ADDR");
    dc.ldapUri = v("DC_LDAP_URI");
    dc.baseDn = v("DC_BASE_DN");
    dc.realm = v("DC_REALM");
    dc.domain = v("DC_DOMAIN");
    dc.krb5Config = v("KRB5_CONFIG");
    dc.krb5Ccname = v("KRB5CCNAME");
    dc.staffCcname = v("DC_KRB5CCNAME_STAFF");
    dc.ldapConf = v("LDAPCONF");
    dc.smbConf = v("SMB_CONF_PATH");
    dc.smbServer = v("DC_SMB_SERVER");
    dc.smbShare = v("DC_SMB_SHARE");
    dc.homesUnc = v("DC_HOMES_UNC");
    dc.homesDir = v("DC_HOMES_DIR");
    dc.adminGroup = v("DC_ADMIN_GROUP");
    dc.adminPassword = v("DC_ADMIN_PASS");
    dc.nssWrapperHosts = v("NSS_WRAPPER_HOSTS");
    dc.nssWrapperSo = v("DC_NSS_WRAPPER_SO");
    dc.ok = !dc.ldapUri.isEmpty() && !dc.baseDn.isEmpty() && !dc.krb5Ccname.isEmpty();
    if (!dc.ok)
        dc.error = f.fileName() + " lacks DC_LDAP_URI, DC_BASE_DN or KRB5CCNAME";
    return dc;
}
