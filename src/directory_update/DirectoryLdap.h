// What the directory layer's sources share over libldap: owned handles, error text, the session's handle.
#pragma once

#include "common/PosixHandles.h"
#include "directory_update/Directory.h"

#include <ldap.h>

#include <memory>

// Only the directory layer's own .cpp files include this: <ldap.h> stays out of every other file.
namespace DirectoryLdap {

using posix::CFree;
struct LdapUnbind {
    void operator()(LDAP* p) const noexcept { ldap_unbind_ext_s(p, nullptr, nullptr); }
};
struct ControlsFree {
    void operator()(LDAPControl** p) const noexcept { ldap_controls_free(p); }
};
struct ValuesFree {
    void operator()(berval** p) const noexcept { ldap_value_free_len(p); }
};
using LdapPtr = std::unique_ptr<LDAP, LdapUnbind>;
using LdapMessagePtr = std::unique_ptr<LDAPMessage, CFree<ldap_msgfree>>;
using LdapString = std::unique_ptr<char, CFree<ldap_memfree>>;
using LdapControlPtr = std::unique_ptr<LDAPControl, CFree<ldap_control_free>>;
using LdapControlsPtr = std::unique_ptr<LDAPControl*, ControlsFree>;
using ValuesPtr = std::unique_ptr<berval*, ValuesFree>;

QString fromBerval(const berval* v);
// The error of a failed call, with the server's diagnostic message when ld has one.
DirectoryError makeError(LDAP* ld, int rc, const QString& object);
// An error the library did not report itself: rc's own text only.
DirectoryError codeError(int rc, const QString& object);

} // namespace DirectoryLdap

struct DirectorySession::Impl {
    DirectoryLdap::LdapPtr ld;
};
