#include "Directory.h"

#include "common/PosixHandles.h"

#include <ldap.h>
#include <sasl/sasl.h>

#include <cstring>

namespace {

using posix::CFree;
struct LdapUnbind {
    void operator()(LDAP* p) const noexcept { ldap_unbind_ext_s(p, nullptr, nullptr); }
};
struct ControlsFree {
    void operator()(LDAPControl** p) const noexcept { ldap_controls_free(p); }
};
struct BervalFree {
    void operator()(berval* p) const noexcept { ber_bvfree(p); }
};
struct ValuesFree {
    void operator()(berval** p) const noexcept { ldap_value_free_len(p); }
};
using LdapPtr = std::unique_ptr<LDAP, LdapUnbind>;
using LdapMessagePtr = std::unique_ptr<LDAPMessage, CFree<ldap_msgfree>>;
using LdapString = std::unique_ptr<char, CFree<ldap_memfree>>;
using LdapControlPtr = std::unique_ptr<LDAPControl, CFree<ldap_control_free>>;
using LdapControlsPtr = std::unique_ptr<LDAPControl*, ControlsFree>;
using BervalPtr = std::unique_ptr<berval, BervalFree>;
using ValuesPtr = std::unique_ptr<berval*, ValuesFree>;

// libldap's own fallback when nothing names a server: not a configuration.
constexpr const char* kUnconfiguredUri = "ldap://localhost:389/??base";
// An unreachable server must fail, not hang; 90 s as a long query may take.
constexpr int kNetworkTimeoutSeconds = 10;
constexpr int kOperationTimeoutSeconds = 90;

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

// Cyrus SASL asks GSSAPI for nothing but the authorisation name: "" means
// "the identity in the ticket". Every other prompt gets its default.
extern "C" int saslInteract(LDAP*, unsigned, void*, void* in) noexcept
{
    for (auto* i = static_cast<sasl_interact_t*>(in); i && i->id != SASL_CB_LIST_END; ++i) {
        const char* answer = i->defresult ? i->defresult : "";
        i->result = answer;
        i->len = unsigned(std::strlen(answer));
    }
    return LDAP_SUCCESS;
}

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

// RFC 4514 escaping is not needed here: DNs come back from the server and go
// back as they came; only values we put into filters are escaped.
QString rdnOf(const QString& dn)
{
    qsizetype i = 0;
    for (; i < dn.size(); ++i) {
        if (dn[i] == '\\')
            ++i;
        else if (dn[i] == ',')
            break;
    }
    return dn.left(i);
}

} // namespace

struct DirectorySession::Impl {
    LdapPtr ld;
};

QString DirectoryEntry::value(const QString& attribute) const
{
    const qsizetype i = attributes.indexOf(attribute);
    return i >= 0 && i < values.size() ? values[i] : QString();
}

bool DirectoryEntry::has(const QString& attribute) const
{
    return !value(attribute).isEmpty();
}

QString sidText(const QByteArray& b)
{
    // revision, sub-authority count, 48-bit big-endian authority, then the
    // sub-authorities, 32-bit little-endian each.
    if (b.size() < 8 || b.size() != 8 + 4 * qsizetype(static_cast<unsigned char>(b[1])))
        return {};
    quint64 authority = 0;
    for (int i = 2; i < 8; ++i)
        authority = authority << 8 | static_cast<unsigned char>(b[i]);
    QString text = QStringLiteral("S-%1-%2").arg(static_cast<unsigned char>(b[0])).arg(authority);
    for (qsizetype i = 8; i < b.size(); i += 4) {
        quint32 sub = 0;
        for (int k = 3; k >= 0; --k)
            sub = sub << 8 | static_cast<unsigned char>(b[i + k]);
        text += QStringLiteral("-%1").arg(sub);
    }
    return text;
}

QString filterValue(const QString& value)
{
    QString out;
    for (const QChar c : value) {
        if (c == u'*' || c == u'(' || c == u')' || c == u'\\' || c.unicode() == 0)
            out += QStringLiteral("\\%1").arg(int(c.unicode()), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

QString DirectorySession::userFilter()
{
    return QStringLiteral("(&(objectCategory=person)(objectClass=user))");
}

QString DirectorySession::configuredUri()
{
    char* uri = nullptr;
    if (ldap_get_option(nullptr, LDAP_OPT_URI, &uri) != LDAP_OPT_SUCCESS || !uri)
        return {};
    LdapString owned(uri);
    const QString text = QString::fromUtf8(uri);
    return text == QLatin1String(kUnconfiguredUri) ? QString() : text;
}

DirectorySession::DirectorySession(std::unique_ptr<Impl> impl)
    : d(std::move(impl))
{}

DirectorySession::~DirectorySession() = default;

std::unique_ptr<DirectorySession> DirectorySession::open(DirectoryError& err)
{
    err = {};
    const QString uri = configuredUri();
    if (uri.isEmpty()) {
        err.code = LDAP_PARAM_ERROR;
        err.object = QStringLiteral("ldap.conf");
        err.text = QStringLiteral("No directory configured: set URI (and BASE) in ldap.conf or ldaprc, "
                                  "or the LDAPURI environment variable.");
        return nullptr;
    }
    LDAP* raw = nullptr;
    int rc = ldap_initialize(&raw, nullptr);
    LdapPtr ld(raw);
    if (rc != LDAP_SUCCESS) {
        err = makeError(nullptr, rc, uri);
        return nullptr;
    }
    const int version = LDAP_VERSION3;
    timeval network{kNetworkTimeoutSeconds, 0};
    timeval operation{kOperationTimeoutSeconds, 0};
    // AD answers subtree searches from the domain root with references to other
    // partitions; chasing them would leave for servers found through DNS.
    if ((rc = ldap_set_option(ld.get(), LDAP_OPT_PROTOCOL_VERSION, &version)) != LDAP_OPT_SUCCESS ||
        (rc = ldap_set_option(ld.get(), LDAP_OPT_REFERRALS, LDAP_OPT_OFF)) != LDAP_OPT_SUCCESS ||
        (rc = ldap_set_option(ld.get(), LDAP_OPT_NETWORK_TIMEOUT, &network)) != LDAP_OPT_SUCCESS ||
        (rc = ldap_set_option(ld.get(), LDAP_OPT_TIMEOUT, &operation)) != LDAP_OPT_SUCCESS) {
        err = makeError(ld.get(), rc, uri);
        return nullptr;
    }
    // The mechanism comes from SASL_MECH when configured; GSSAPI otherwise.
    QByteArray mech = "GSSAPI";
    char* configured = nullptr;
    if (ldap_get_option(ld.get(), LDAP_OPT_X_SASL_MECH, &configured) == LDAP_OPT_SUCCESS && configured) {
        LdapString owned(configured);
        if (*configured)
            mech = configured;
    }
    rc = ldap_sasl_interactive_bind_s(ld.get(), nullptr, mech.constData(), nullptr, nullptr, LDAP_SASL_QUIET,
                                      saslInteract, nullptr);
    if (rc != LDAP_SUCCESS) {
        err = makeError(ld.get(), rc, uri);
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->ld = std::move(ld);
    return std::unique_ptr<DirectorySession>(new DirectorySession(std::move(impl)));
}

bool DirectorySession::search(const QString& base, DirectoryScope scope, const QString& filter,
                              const QStringList& attributes, const std::function<bool(const DirectoryEntry&)>& onEntry,
                              DirectoryError& err)
{
    err = {};
    m_lastPages = 0;
    LDAP* ld = d->ld.get();
    const QByteArray baseUtf8 = base.toUtf8();
    const QByteArray filterUtf8 = filter.toUtf8();
    std::vector<QByteArray> attrStore;
    std::vector<char*> attrs;
    for (const QString& a : attributes) {
        attrStore.push_back(a.toUtf8());
        attrs.push_back(attrStore.back().data());
    }
    // No attribute at all: ask for none ("1.1") rather than for every one.
    static char noAttrs[] = "1.1";
    if (attrs.empty())
        attrs.push_back(noAttrs);
    attrs.push_back(nullptr);

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
        rc = ldap_search_ext_s(ld, baseUtf8.constData(), scopeOf(scope), filterUtf8.constData(), attrs.data(), 0,
                               serverControls, nullptr, nullptr, LDAP_NO_LIMIT, &rawResult);
        LdapMessagePtr result(rawResult);
        ++m_lastPages;
        if (rc != LDAP_SUCCESS) {
            err = makeError(ld, rc, base);
            return false;
        }
        for (LDAPMessage* m = ldap_first_message(ld, result.get()); m; m = ldap_next_message(ld, m)) {
            if (ldap_msgtype(m) != LDAP_RES_SEARCH_ENTRY)
                continue; // references and the result itself
            DirectoryEntry entry;
            LdapString dn(ldap_get_dn(ld, m));
            entry.dn = dn ? QString::fromUtf8(dn.get()) : QString();
            entry.attributes = attributes;
            for (const QByteArray& a : attrStore) {
                ValuesPtr values(ldap_get_values_len(ld, m, a.constData()));
                const berval* v = values ? values.get()[0] : nullptr;
                // A SID is bytes, not UTF-8: read as text it comes back garbled.
                if (v && v->bv_val && qstricmp(a.constData(), "objectSid") == 0)
                    entry.values << sidText(QByteArray(v->bv_val, qsizetype(v->bv_len)));
                else
                    entry.values << fromBerval(v);
            }
            if (!onEntry(entry))
                return true;
        }
        int serverRc = LDAP_SUCCESS;
        LDAPControl** rawControls = nullptr;
        rc = ldap_parse_result(ld, result.get(), &serverRc, nullptr, nullptr, nullptr, &rawControls, 0);
        LdapControlsPtr controls(rawControls);
        if (rc != LDAP_SUCCESS || serverRc != LDAP_SUCCESS) {
            err = makeError(ld, rc != LDAP_SUCCESS ? rc : serverRc, base);
            return false;
        }
        // The next page starts from the server's cookie; an empty one ends the
        // search (not a short page: Samba sends a last empty page).
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
    if (!found) {
        err.code = LDAP_NO_SUCH_OBJECT;
        err.object = dn;
        err.text = QString::fromUtf8(ldap_err2string(LDAP_NO_SUCH_OBJECT));
    }
    return found;
}

QList<DirectoryChild> DirectorySession::children(const QString& dn, const QString& objectClass, DirectoryError& err)
{
    QList<DirectoryChild> out;
    const QString filter =
        objectClass.isEmpty() ? QStringLiteral("(objectClass=*)") : QStringLiteral("(objectClass=%1)").arg(objectClass);
    search(
        dn, DirectoryScope::OneLevel, filter, {},
        [&out](const DirectoryEntry& e) {
            out.append({rdnOf(e.dn), e.dn, QStringLiteral("LDAP://") + e.dn});
            return true;
        },
        err);
    return out;
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
    if (!found) {
        err.code = LDAP_NO_SUCH_OBJECT;
        err.object = dn;
        err.text = QString::fromUtf8(ldap_err2string(LDAP_NO_SUCH_OBJECT));
    }
    return value;
}

bool DirectorySession::writeAttribute(const QString& dn, const QString& attribute, const QString& value,
                                      DirectoryError& err)
{
    err = {};
    QByteArray attr = attribute.toUtf8();
    QByteArray val = value.toUtf8();
    berval bv{ber_len_t(val.size()), val.data()};
    berval* values[] = {&bv, nullptr};
    LDAPMod mod{};
    mod.mod_op = LDAP_MOD_REPLACE | LDAP_MOD_BVALUES;
    mod.mod_type = attr.data();
    mod.mod_bvalues = values;
    LDAPMod* mods[] = {&mod, nullptr};
    const int rc = ldap_modify_ext_s(d->ld.get(), dn.toUtf8().constData(), mods, nullptr, nullptr);
    if (rc != LDAP_SUCCESS) {
        err = makeError(d->ld.get(), rc, dn);
        return false;
    }
    return true;
}

namespace {

struct ModValue {
    QByteArray bytes;
    berval bv{};
    berval* list[2] = {nullptr, nullptr};
    explicit ModValue(const QString& value)
        : bytes(value.toUtf8())
    {
        bv = {ber_len_t(bytes.size()), bytes.data()};
        list[0] = &bv;
    }
};

// One modify of dn with the changes given, applied by the server all or nothing.
bool modify(LDAP* ld, const QString& dn, std::vector<LDAPMod>& changes, DirectoryError& err)
{
    err = {};
    std::vector<LDAPMod*> mods;
    for (LDAPMod& m : changes)
        mods.push_back(&m);
    mods.push_back(nullptr);
    const int rc = ldap_modify_ext_s(ld, dn.toUtf8().constData(), mods.data(), nullptr, nullptr);
    if (rc != LDAP_SUCCESS) {
        err = makeError(ld, rc, dn);
        return false;
    }
    return true;
}

LDAPMod makeMod(int op, QByteArray& attr, ModValue* value)
{
    LDAPMod mod{};
    mod.mod_op = op | LDAP_MOD_BVALUES;
    mod.mod_type = attr.data();
    mod.mod_bvalues = value ? value->list : nullptr;
    return mod;
}

} // namespace

bool DirectorySession::changeAttribute(const QString& dn, const QString& attribute, const QString& expected,
                                       const QString& value, DirectoryError& err)
{
    QByteArray attr = attribute.toUtf8();
    ModValue oldValue(expected), newValue(value);
    std::vector<LDAPMod> changes;
    // Deleting the exact old value fails when it is no longer there; adding a
    // value to a single-valued attribute fails when another is there.
    if (!expected.isEmpty())
        changes.push_back(makeMod(LDAP_MOD_DELETE, attr, &oldValue));
    if (!value.isEmpty())
        changes.push_back(makeMod(LDAP_MOD_ADD, attr, &newValue));
    if (changes.empty()) {
        // Nothing to set: only check that there is still nothing.
        const QString now = readAttribute(dn, attribute, err);
        if (err)
            return false;
        if (now.isEmpty())
            return true;
        err.code = LDAP_TYPE_OR_VALUE_EXISTS;
        err.object = dn;
        err.text = QString::fromUtf8(ldap_err2string(LDAP_TYPE_OR_VALUE_EXISTS));
        return false;
    }
    return modify(d->ld.get(), dn, changes, err);
}

bool DirectorySession::setAttribute(const QString& dn, const QString& attribute, const QString& value,
                                    DirectoryError& err)
{
    if (!value.isEmpty())
        return writeAttribute(dn, attribute, value, err);
    QByteArray attr = attribute.toUtf8();
    std::vector<LDAPMod> changes{makeMod(LDAP_MOD_DELETE, attr, nullptr)};
    if (modify(d->ld.get(), dn, changes, err))
        return true;
    if (err.code == LDAP_NO_SUCH_ATTRIBUTE) {
        err = {}; // already without one
        return true;
    }
    return false;
}

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
