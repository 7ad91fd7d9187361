#pragma once

#include "cacls/ChildProcess.h"
#include "cacls/UncPath.h"

#include <string>
#include <vector>

// Grants full control on a network folder by running smbcacls with the operator's
// Kerberos ticket: the server resolves the accounts, adds an inheritable (OI|CI)
// allowed entry in canonical order, keeps owner, other entries and protected flags,
// and propagates it to the existing content as inherited entries, skipping protected
// children. libsmbclient cannot propagate and drops the protected flag, hence the tool.
namespace cacls {

struct SmbOutcome {
    bool ok = false;
    std::string message; // what went wrong, for the operator and the log
};

// "" when the account can be passed to smbcacls; otherwise why not.
std::string checkSmbAccount(const std::string& account);

// smbConf: the client configuration to use ("" = smbcacls' default).
std::vector<std::string> smbcaclsArguments(const UncPath& path, const std::vector<std::string>& accounts,
                                           const std::string& smbConf);

// Turns smbcacls' exit status and both output streams into one clear message.
std::string explainSmbcaclsFailure(const ChildResult& run, const UncPath& path, const std::string& folder);

SmbOutcome grantOverSmb(const std::string& folder, const UncPath& path, const std::vector<std::string>& accounts);

} // namespace cacls
