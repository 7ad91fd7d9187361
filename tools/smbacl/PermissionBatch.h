#pragma once

#include "cacls/ChildProcess.h"
#include "smbacl/GrantPool.h"

#include <functional>
#include <optional>
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
    // A folder given to submitEarly before is not sent again: its outcome is taken.
    std::vector<GrantOutcome> fixAll(const std::vector<GrantRequest>& requests);
    // A network folder that fixAll will be given soon goes to a helper now, so it is
    // under way while the caller works on. Local folders wait for fixAll.
    void submitEarly(const GrantRequest& request);
    bool submittedEarly(const GrantRequest& request) const;

    // "" while network folders go to the helpers; why not otherwise.
    const std::string& smbFallbackReason() const { return m_pool.fallbackReason(); }
    GrantPool& pool() { return m_pool; }

private:
    GrantOutcome fixLocal(const GrantRequest& request) const;

    struct Early {
        GrantRequest request;
        std::size_t ticket;
    };
    std::optional<std::size_t> takeEarly(const GrantRequest& request);

    BatchOptions m_options;
    GrantPool m_pool;
    std::vector<Early> m_early;
};

} // namespace smbacl
