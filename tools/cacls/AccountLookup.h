#pragma once

#include <string>
#include <sys/types.h>

// Resolves an account name through NSS (files, winbind, sssd ...) the way the
// system tool does on Windows: a user first, then a group. "DOMAIN\name" and
// "name@realm" are tried as given, then as the bare name.
namespace cacls {

enum class AccountKind { User, Group };

struct Account {
    std::string given;   // as on the command line
    std::string matched; // the form NSS knew
    AccountKind kind = AccountKind::User;
    id_t id = 0; // uid or gid
};

enum class LookupStatus { Found, Unknown, Failed };

struct LookupResult {
    LookupStatus status = LookupStatus::Unknown;
    Account account;
    std::string detail; // why the lookup itself failed (winbind down, out of memory ...)
};

LookupResult lookupAccount(const std::string& name);

// "user" or "group", for messages.
const char* kindName(AccountKind kind);

} // namespace cacls
