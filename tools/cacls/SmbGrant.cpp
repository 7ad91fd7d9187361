#include "cacls/SmbGrant.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace cacls {
namespace {

bool contains(const std::string& text, const char* needle)
{
    return text.find(needle) != std::string::npos;
}

// smbcacls' own lines, without the "NT_STATUS_NO_MEMORY processing" line that follows
// every failed open when propagating and would only mislead.
std::string detailOf(const ChildResult& run)
{
    std::istringstream lines(run.out + "\n" + run.err);
    std::string line, detail;
    while (std::getline(lines, line)) {
        if (line.empty() || contains(line, "NT_STATUS_NO_MEMORY processing"))
            continue;
        if (contains(detail, line.c_str()))
            continue; // smbcacls repeats "Failed to open" on both streams
        detail += (detail.empty() ? "" : "; ") + line;
    }
    return detail;
}

std::string quotedName(const std::string& text)
{
    // failed to convert 'SCHOOL\nosuch' to SID
    const char* marker = "failed to convert '";
    const auto start = text.find(marker);
    if (start == std::string::npos)
        return {};
    const auto from = start + std::strlen(marker);
    const auto end = text.find("' to SID", from);
    return end == std::string::npos ? std::string{} : text.substr(from, end - from);
}

std::string shareOf(const UncPath& path)
{
    return "\\\\" + path.server + "\\" + path.share;
}

bool hasTicket()
{
    // klist -s: silent, exit status 0 only for a cache holding unexpired tickets.
    // Without klist the check is left to smbcacls' own error.
    const ChildResult run = runChild({"klist", "-s"});
    return !run.started || run.exitCode == 0;
}

} // namespace

std::string checkSmbAccount(const std::string& account)
{
    // smbcacls reads "ACL:name:type/flags/mask" entries separated by commas.
    if (account.find_first_of(",:") != std::string::npos)
        return "account \"" + account + "\" contains ',' or ':', which cannot be passed to the server";
    if (std::any_of(account.begin(), account.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; }))
        return "account \"" + account + "\" contains control characters";
    return {};
}

std::vector<std::string> smbcaclsArguments(const UncPath& path, const std::vector<std::string>& accounts,
                                           const std::string& smbConf)
{
    // Appended piece by piece: GCC 12 at -O3 takes `"," + std::string&&` for an
    // overlapping copy and warns (-Wrestrict, a known false positive).
    std::string entries;
    for (const std::string& account : accounts) {
        if (!entries.empty())
            entries += ',';
        entries.append("ACL:").append(account).append(":ALLOWED/OI|CI/FULL");
    }
    std::vector<std::string> args{"smbcacls"};
    if (!smbConf.empty())
        args.insert(args.end(), {"-s", smbConf});
    // -N: never prompt for a password; the ticket is all. --set-security-info=4 writes the
    // access list only, so an operator with "change permissions" but not "take ownership"
    // succeeds and the owner is never rewritten. All names in one call: one connection,
    // one walk, and smbcacls resolves every name before writing anything.
    args.insert(args.end(), {"--use-kerberos=required", "-N", "--set-security-info=4", "--propagate-inheritance", "-a",
                             entries, "--", "//" + path.server + "/" + path.share, path.below});
    return args;
}

std::string explainSmbcaclsFailure(const ChildResult& run, const UncPath& path, const std::string& folder)
{
    const std::string all = run.out + "\n" + run.err;
    const std::string detail = " [smbcacls: " + detailOf(run) + "]";
    if (const std::string name = quotedName(all); !name.empty())
        return "unknown account \"" + name + "\": the server knows no such user or group" + detail;
    if (contains(all, "Kerberos auth with") && contains(all, "not possible"))
        return "Kerberos cannot be used with the server \"" + path.server +
               "\": give the server's name as the domain knows it" + detail;
    if (contains(all, "Could not find a suitable mechtype") ||
        (contains(all, "cli_full_connection") && contains(all, "NT_STATUS_INVALID_PARAMETER")) ||
        contains(all, "NT_STATUS_NO_LOGON_SERVERS") || contains(all, "Ticket expired"))
        return "no valid Kerberos ticket: log on to the domain or run kinit first" + detail;
    if (contains(all, "NT_STATUS_BAD_NETWORK_NAME"))
        return "share not found: " + shareOf(path) + detail;
    if (contains(all, "NT_STATUS_OBJECT_NAME_NOT_FOUND") || contains(all, "NT_STATUS_OBJECT_PATH_NOT_FOUND"))
        return "folder not found: " + folder + detail;
    if (contains(all, "NT_STATUS_ACCESS_DENIED"))
        return "access denied on " + folder + ": your account may not change its permissions" + detail;
    if (contains(all, "cli_full_connection") || contains(all, "NT_STATUS_CONNECTION_REFUSED") ||
        contains(all, "NT_STATUS_HOST_UNREACHABLE") || contains(all, "NT_STATUS_NETWORK_UNREACHABLE") ||
        contains(all, "NT_STATUS_IO_TIMEOUT"))
        return "cannot reach the server \"" + path.server + "\"" + detail;
    if (contains(all, "unknown option"))
        return "this smbcacls lacks an option the grant needs (--propagate-inheritance came with newer Samba)" + detail;
    const std::string status =
        run.exitCode < 0 ? "was killed" : "failed with exit status " + std::to_string(run.exitCode);
    return "smbcacls " + status + " on " + folder + detail;
}

SmbOutcome grantOverSmb(const std::string& folder, const UncPath& path, const std::vector<std::string>& accounts)
{
    if (isAddressOrLocalhost(path.server))
        return {false, "the server in " + folder + " is given as an address (\"" + path.server +
                           "\"); Kerberos needs its name, as in \\\\fileserver\\" + path.share};
    for (const std::string& account : accounts) {
        if (std::string problem = checkSmbAccount(account); !problem.empty())
            return {false, problem};
    }
    if (!hasTicket())
        return {false, "no valid Kerberos ticket: log on to the domain or run kinit first"};
    // Samba's client libraries read SMB_CONF_PATH; smbcacls itself only takes -s.
    const char* smbConf = std::getenv("SMB_CONF_PATH");
    const ChildResult run = runChild(smbcaclsArguments(path, accounts, smbConf ? smbConf : ""));
    if (!run.started) {
        if (run.startError == ENOENT)
            return {false, "smbcacls is not installed (Debian package smbclient)"};
        return {false, std::string("cannot start smbcacls: ") + std::strerror(run.startError)};
    }
    if (run.exitCode != 0)
        return {false, explainSmbcaclsFailure(run, path, folder)};
    return {true, {}};
}

} // namespace cacls
