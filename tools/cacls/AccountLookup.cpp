#include "cacls/AccountLookup.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/utsname.h>
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

struct QualifiedName {
    std::string domain; // empty for a bare name
    std::string bare;
};

QualifiedName splitName(const std::string& name)
{
    const auto backslash = name.rfind('\\');
    if (backslash != std::string::npos && backslash + 1 < name.size())
        return {name.substr(0, backslash), name.substr(backslash + 1)};
    const auto at = name.find('@');
    if (backslash == std::string::npos && at != std::string::npos && at > 0 && at + 1 < name.size())
        return {name.substr(at + 1), name.substr(0, at)};
    return {{}, name};
}

bool sameText(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

// "." or the host's own name (short or full), as Windows names local accounts.
bool isThisMachine(const std::string& domain)
{
    if (domain == ".")
        return true;
    // uname's node name is what gethostname(2) gives; NSS test wrappers leave uname alone.
    utsname names{};
    if (uname(&names) != 0)
        return false;
    const std::string full = names.nodename;
    return sameText(domain, full) || sameText(domain, full.substr(0, full.find('.')));
}

std::vector<std::string> candidates(const QualifiedName& name, const std::string& given)
{
    std::vector<std::string> forms{given};
    if (!name.domain.empty() && isThisMachine(name.domain))
        forms.push_back(name.bare);
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
    const QualifiedName qualified = splitName(name);
    for (const std::string& form : candidates(qualified, name)) {
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
    if (!qualified.domain.empty() && !isThisMachine(qualified.domain))
        result.domain = qualified.domain;
    return result;
}

} // namespace cacls
