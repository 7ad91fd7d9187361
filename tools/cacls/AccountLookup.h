#pragma once

#include <string>
#include <sys/types.h>

// Resolves an account name through NSS (files, winbind, sssd ...) the way the
// system tool does on Windows: a user first, then a group. "DOMAIN\name" and
// "name@realm" must resolve as given (winbind and sssd know such names); only
// when the qualifier names this machine ("HOST\name", ".\name") is the bare
// local name taken. A local "name" never stands in for another domain's account.
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
    std::string domain; // an Unknown name's domain when it named one other than this machine
};

LookupResult lookupAccount(const std::string& name);

// "user" or "group", for messages.
const char* kindName(AccountKind kind);

} // namespace cacls
