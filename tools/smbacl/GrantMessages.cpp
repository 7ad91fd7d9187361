// What can be sent to the helper, and its failures in the permission tool's words.
#include "smbacl/GrantPool.h"

#include <algorithm>

namespace smbacl {
namespace {

bool hasControl(const std::string& text)
{
    return std::any_of(text.begin(), text.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; });
}

// S-1-<authority>-<sub>...: digits only, as the directory's objectSid is printed.
bool isSid(const std::string& sid)
{
    if (sid.size() < 5 || sid.compare(0, 4, "S-1-") != 0 || sid.size() > 200)
        return false;
    bool digit = false;
    for (std::size_t i = 4; i < sid.size(); ++i) {
        if (sid[i] >= '0' && sid[i] <= '9') {
            digit = true;
        } else if (sid[i] == '-' && digit) {
            digit = false;
        } else {
            return false;
        }
    }
    return digit;
}

std::string shareOf(const cacls::UncPath& path)
{
    return "\\\\" + path.server + "\\" + path.share;
}

bool oneOf(const std::string& status, std::initializer_list<const char*> names)
{
    return std::any_of(names.begin(), names.end(), [&status](const char* n) { return status == n; });
}

std::string stageText(const std::string& stage, const std::string& where, const cacls::UncPath& path)
{
    const std::string object = "\\" + where;
    if (stage == "connect")
        return "connecting to " + shareOf(path);
    if (stage == "open")
        return "opening " + object;
    if (stage == "read")
        return "reading the permissions of " + object;
    if (stage == "write")
        return "writing the permissions of " + object;
    if (stage == "list")
        return "listing " + object;
    return stage + " " + object;
}

} // namespace

std::string checkRequest(const GrantRequest& request, cacls::UncPath& path)
{
    const cacls::ParsedUnc parsed = cacls::parseUncPath(request.folder);
    if (!parsed.path)
        return request.folder + ": " + parsed.error;
    path = *parsed.path;
    if (cacls::isAddressOrLocalhost(path.server))
        return "the server in " + request.folder + " is given as an address (\"" + path.server +
               "\"); Kerberos needs its name, as in \\\\fileserver\\" + path.share;
    if (hasControl(request.folder))
        return "the folder \"" + request.folder + "\" contains control characters";
    if (request.accounts.empty())
        return "no account to grant on " + request.folder;
    // Like smbcacls: every account must be known before anything is written.
    for (const Account& account : request.accounts) {
        if (account.sid.empty())
            return "unknown account \"" + account.name + "\": the server knows no such user or group";
        if (!isSid(account.sid))
            return "account \"" + account.name + "\" has no usable SID (\"" + account.sid + "\")";
    }
    return {};
}

std::string explainHelperFailure(const std::string& status, const std::string& stage, const std::string& where,
                                 const cacls::UncPath& path, const std::string& folder)
{
    const std::string detail = " [corvane-smbacl: " + status + " " + stageText(stage, where, path) + "]";
    const bool connecting = stage == "connect";
    if ((connecting && oneOf(status, {"NT_STATUS_INVALID_PARAMETER", "NT_STATUS_NO_LOGON_SERVERS"})) ||
        oneOf(status, {"NT_STATUS_NETWORK_SESSION_EXPIRED"}))
        return "no valid Kerberos ticket: log on to the domain or run kinit first" + detail;
    if (status == "NT_STATUS_BAD_NETWORK_NAME")
        return "share not found: " + shareOf(path) + detail;
    if (oneOf(status, {"NT_STATUS_OBJECT_NAME_NOT_FOUND", "NT_STATUS_OBJECT_PATH_NOT_FOUND"}))
        return "folder not found: " + folder + detail;
    if (status == "NT_STATUS_ACCESS_DENIED")
        return "access denied on " + folder + ": your account may not change its permissions" + detail;
    if (connecting ||
        oneOf(status, {"NT_STATUS_CONNECTION_REFUSED", "NT_STATUS_HOST_UNREACHABLE", "NT_STATUS_NETWORK_UNREACHABLE",
                       "NT_STATUS_IO_TIMEOUT", "NT_STATUS_CONNECTION_DISCONNECTED", "NT_STATUS_CONNECTION_RESET"}))
        return "cannot reach the server \"" + path.server + "\"" + detail;
    return "the permission fix failed on " + folder + detail;
}

} // namespace smbacl
