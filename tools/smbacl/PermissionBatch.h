#pragma once

#include "cacls/ChildProcess.h"
#include "smbacl/GrantPool.h"

#include <functional>
#include <string>
#include <vector>

// The permission fix of many home folders at once, whatever kind they are:
// network folders go to the corvane-smbacl helpers (GrantPool), local folders to
// the permission tool, several accounts at a time (at most localWorkers tool runs
// at once), each account's runs in the usual order: the user, then the group.
// Different accounts' folders are separate trees, so running them side by side
// gives each the result it would get alone.
namespace smbacl {

struct BatchOptions {
    std::string tool; // resources/cacls
    PoolOptions smb;
    unsigned localWorkers = 4;
    // A failed tool run (stdout and stderr merged, as written) in words for the log;
    // empty: the tool's output on one line, as the update has always logged it.
    std::function<std::string(const cacls::ChildResult&)> describe;
};

// The default of BatchOptions::describe.
std::string describeToolRun(const cacls::ChildResult& run, const std::string& tool);

class PermissionBatch {
public:
    explicit PermissionBatch(BatchOptions options);

    // Outcomes in the order given; one folder's failure never stops the others.
    std::vector<GrantOutcome> fixAll(const std::vector<GrantRequest>& requests);

    // "" while network folders go to the helpers; why not otherwise.
    const std::string& smbFallbackReason() const { return m_pool.fallbackReason(); }
    GrantPool& pool() { return m_pool; }

private:
    GrantOutcome fixLocal(const GrantRequest& request) const;

    BatchOptions m_options;
    GrantPool m_pool;
};

} // namespace smbacl
