#include "cacls/AccountLookup.h"

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <type_traits>
#include <unistd.h>
#include <vector>

namespace cacls {
namespace {

// getpwnam_r(3) lists several codes that only mean "no such entry"; everything else
// is a failure of the lookup itself, which must not be reported as an unknown account.
bool meansNotFound(int rc)
{
    return rc == 0 || rc == ENOENT || rc == ESRCH || rc == EBADF || rc == EPERM;
}

// Calls getpwnam_r or getgrnam_r with a buffer that grows on ERANGE.
template <class Entry, class Fn> LookupStatus lookupEntry(Fn fn, const std::string& name, id_t& id, std::string& detail)
{
    std::vector<char> buffer(16384);
    for (;;) {
        Entry entry{};
        Entry* result = nullptr;
        const int rc = fn(name.c_str(), &entry, buffer.data(), buffer.size(), &result);
        if (rc == ERANGE && buffer.size() < (1u << 22)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (result) {
            if constexpr (std::is_same_v<Entry, passwd>)
                id = result->pw_uid;
            else
                id = result->gr_gid;
            return LookupStatus::Found;
        }
        if (meansNotFound(rc))
            return LookupStatus::Unknown;
        detail = std::strerror(rc);
        return LookupStatus::Failed;
    }
}

std::vector<std::string> candidates(const std::string& name)
{
    std::vector<std::string> forms{name};
    const auto backslash = name.rfind('\\');
    if (backslash != std::string::npos && backslash + 1 < name.size())
        forms.push_back(name.substr(backslash + 1));
    const auto at = name.find('@');
    if (backslash == std::string::npos && at != std::string::npos && at > 0)
        forms.push_back(name.substr(0, at));
    return forms;
}

} // namespace

const char* kindName(AccountKind kind)
{
    return kind == AccountKind::User ? "user" : "group";
}

LookupResult lookupAccount(const std::string& name)
{
    LookupResult result;
    result.account.given = name;
    for (const std::string& form : candidates(name)) {
        id_t id = 0;
        LookupStatus status = lookupEntry<passwd>(getpwnam_r, form, id, result.detail);
        AccountKind kind = AccountKind::User;
        if (status == LookupStatus::Unknown) {
            status = lookupEntry<group>(getgrnam_r, form, id, result.detail);
            kind = AccountKind::Group;
        }
        if (status == LookupStatus::Failed) {
            result.status = status;
            return result;
        }
        if (status == LookupStatus::Found) {
            result.status = status;
            result.account.matched = form;
            result.account.kind = kind;
            result.account.id = id;
            return result;
        }
    }
    result.status = LookupStatus::Unknown;
    return result;
}

} // namespace cacls
