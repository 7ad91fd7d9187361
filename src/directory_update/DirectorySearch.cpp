// The paged search (RFC 2696) and the reads built on it: counts, one attribute, one entry.
#include "DirectoryLdap.h"

#include <vector>

using namespace DirectoryLdap;

namespace {

int scopeOf(DirectoryScope scope)
{
    switch (scope) {
    case DirectoryScope::Base:
        return LDAP_SCOPE_BASE;
    case DirectoryScope::OneLevel:
        return LDAP_SCOPE_ONELEVEL;
    case DirectoryScope::Subtree:
        break;
    }
    return LDAP_SCOPE_SUBTREE;
}

// The attribute names as libldap takes them: owned bytes and a null-ended list of pointers into them.
struct AttributeList {
    std::vector<QByteArray> names;
    std::vector<char*> pointers;

    explicit AttributeList(const QStringList& attributes)
    {
        names.reserve(size_t(attributes.size()));
        for (const QString& a : attributes) {
            names.push_back(a.toUtf8());
            pointers.push_back(names.back().data());
        }
        // No attribute at all: ask for none ("1.1") rather than for every one.
        static char noAttrs[] = "1.1";
        if (pointers.empty())
            pointers.push_back(noAttrs);
        pointers.push_back(nullptr);
    }
};

DirectoryEntry entryOf(LDAP* ld, LDAPMessage* m, const QStringList& attributes, const AttributeList& list)
{
    DirectoryEntry entry;
    LdapString dn(ldap_get_dn(ld, m));
    entry.dn = dn ? QString::fromUtf8(dn.get()) : QString();
    entry.attributes = attributes;
    for (const QByteArray& a : list.names) {
        ValuesPtr values(ldap_get_values_len(ld, m, a.constData()));
        const berval* v = values ? values.get()[0] : nullptr;
        // A SID is bytes, not UTF-8: read as text it comes back garbled.
        if (v && v->bv_val && qstricmp(a.constData(), "objectSid") == 0)
            entry.values << sidText(QByteArray(v->bv_val, qsizetype(v->bv_len)));
        else
            entry.values << fromBerval(v);
    }
    return entry;
}

// The cookie of the next page from the result of this one; an empty one ends
// the search (not a short page: Samba sends a last empty page).
bool nextCookie(LDAP* ld, LDAPMessage* result, QByteArray& cookie, const QString& base, DirectoryError& err)
{
    int serverRc = LDAP_SUCCESS;
    LDAPControl** rawControls = nullptr;
    int rc = ldap_parse_result(ld, result, &serverRc, nullptr, nullptr, nullptr, &rawControls, 0);
    LdapControlsPtr controls(rawControls);
    if (rc != LDAP_SUCCESS || serverRc != LDAP_SUCCESS) {
        err = makeError(ld, rc != LDAP_SUCCESS ? rc : serverRc, base);
        return false;
    }
    cookie.clear();
    if (LDAPControl* response = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, controls.get(), nullptr)) {
        ber_int_t estimate = 0;
        berval next{0, nullptr};
        if ((rc = ldap_parse_pageresponse_control(ld, response, &estimate, &next)) != LDAP_SUCCESS) {
            err = makeError(ld, rc, base);
            return false;
        }
        cookie = QByteArray(next.bv_val, qsizetype(next.bv_len));
        ber_memfree(next.bv_val);
    }
    return true;
}

} // namespace

bool DirectorySession::search(const QString& base, DirectoryScope scope, const QString& filter,
                              const QStringList& attributes, const std::function<bool(const DirectoryEntry&)>& onEntry,
                              DirectoryError& err)
{
    err = {};
    m_lastPages = 0;
    LDAP* ld = d->ld.get();
    const QByteArray baseUtf8 = base.toUtf8();
    const QByteArray filterUtf8 = filter.toUtf8();
    AttributeList attrs(attributes);

    QByteArray cookie;
    do {
        berval cookieValue{ber_len_t(cookie.size()), cookie.data()};
        LDAPControl* rawPage = nullptr;
        int rc =
            ldap_create_page_control(ld, ber_int_t(m_pageSize), cookie.isEmpty() ? nullptr : &cookieValue, 1, &rawPage);
        LdapControlPtr page(rawPage);
        if (rc != LDAP_SUCCESS) {
            err = makeError(ld, rc, base);
            return false;
        }
        LDAPControl* serverControls[] = {page.get(), nullptr};
        LDAPMessage* rawResult = nullptr;
        rc = ldap_search_ext_s(ld, baseUtf8.constData(), scopeOf(scope), filterUtf8.constData(), attrs.pointers.data(),
                               0, serverControls, nullptr, nullptr, LDAP_NO_LIMIT, &rawResult);
        LdapMessagePtr result(rawResult);
        ++m_lastPages;
        if (rc != LDAP_SUCCESS) {
            err = makeError(ld, rc, base);
            return false;
        }
        for (LDAPMessage* m = ldap_first_message(ld, result.get()); m; m = ldap_next_message(ld, m)) {
            if (ldap_msgtype(m) != LDAP_RES_SEARCH_ENTRY)
                continue; // references and the result itself
            if (!onEntry(entryOf(ld, m, attributes, attrs)))
                return true;
        }
        if (!nextCookie(ld, result.get(), cookie, base, err))
            return false;
    } while (!cookie.isEmpty());
    return true;
}

qint64 DirectorySession::count(const QString& base, DirectoryScope scope, const QString& filter, DirectoryError& err)
{
    qint64 n = 0;
    if (!search(
            base, scope, filter, {}, [&n](const DirectoryEntry&) { return ++n, true; }, err))
        return -1;
    return n;
}

QString DirectorySession::readRootDse(const QString& attribute, DirectoryError& err)
{
    return readAttribute(QString(), attribute, err);
}

bool DirectorySession::bindEntry(const QString& dn, DirectoryError& err)
{
    bool found = false;
    if (!search(
            dn, DirectoryScope::Base, QStringLiteral("(objectClass=*)"), {},
            [&found](const DirectoryEntry&) { return found = true, false; }, err))
        return false;
    if (!found)
        err = codeError(LDAP_NO_SUCH_OBJECT, dn);
    return found;
}

QString DirectorySession::readAttribute(const QString& dn, const QString& attribute, DirectoryError& err)
{
    QString value;
    bool found = false;
    if (!search(
            dn, DirectoryScope::Base, QStringLiteral("(objectClass=*)"), {attribute},
            [&](const DirectoryEntry& e) {
                value = e.values.value(0);
                return found = true, false;
            },
            err))
        return {};
    if (!found)
        err = codeError(LDAP_NO_SUCH_OBJECT, dn);
    return value;
}
