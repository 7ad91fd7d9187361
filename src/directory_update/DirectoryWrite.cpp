// Changes to one attribute of one entry, each a single modify the server applies whole or not at all.
#include "DirectoryLdap.h"

#include <vector>

using namespace DirectoryLdap;

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

bool DirectorySession::writeAttribute(const QString& dn, const QString& attribute, const QString& value,
                                      DirectoryError& err)
{
    QByteArray attr = attribute.toUtf8();
    ModValue newValue(value);
    std::vector<LDAPMod> changes{makeMod(LDAP_MOD_REPLACE, attr, &newValue)};
    return modify(d->ld.get(), dn, changes, err);
}

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
        err = codeError(LDAP_TYPE_OR_VALUE_EXISTS, dn);
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
