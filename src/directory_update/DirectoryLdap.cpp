// Error text of libldap calls, shared by the directory layer's sources.
#include "DirectoryLdap.h"

namespace DirectoryLdap {

QString fromBerval(const berval* v)
{
    return v && v->bv_val ? QString::fromUtf8(v->bv_val, qsizetype(v->bv_len)) : QString();
}

DirectoryError makeError(LDAP* ld, int rc, const QString& object)
{
    DirectoryError err;
    err.code = rc == LDAP_SUCCESS ? LDAP_OTHER : rc;
    err.object = object;
    err.text = QString::fromUtf8(ldap_err2string(rc));
    if (ld) {
        char* diag = nullptr;
        if (ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &diag) == LDAP_OPT_SUCCESS && diag) {
            LdapString owned(diag);
            if (*diag)
                err.text += QStringLiteral(": ") + QString::fromUtf8(diag).trimmed(); // AD ends it with a line break
        }
    }
    return err;
}

DirectoryError codeError(int rc, const QString& object)
{
    DirectoryError err;
    err.code = rc;
    err.object = object;
    err.text = QString::fromUtf8(ldap_err2string(rc));
    return err;
}

} // namespace DirectoryLdap
