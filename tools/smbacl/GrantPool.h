#pragma once

#include "cacls/UncPath.h"
#include "smbacl/HelperProcess.h"

#include <chrono>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The permission fix on network home folders for a whole run: a few corvane-smbacl
// helpers, started once, each keeping its SMB session, grant full control on several
// home folders at a time (at most one per helper). The accounts come as SIDs from the
// directory, so nothing is looked up by name. When the helper or Samba's Python
// bindings are missing, every folder goes the old way (smbcacls, one run each) and
// fallbackReason() says why; the results are the same either way.
namespace smbacl {

struct Account {
    std::string name; // as messages show it, e.g. SCHOOL\jbloggs
    std::string sid;  // S-1-5-..., from the directory's objectSid; "" when the directory has none
};

struct GrantRequest {
    std::string folder; // \\server\share\path
    std::vector<Account> accounts;
};

struct GrantOutcome {
    bool ok = false;
    std::string message;     // what went wrong, for the operator and the log
    std::size_t objects = 0; // objects whose permissions were read (helper only)
    std::size_t written = 0; // of those, the ones that changed
    bool bySmbcacls = false; // done the old way
};

struct PoolOptions {
    std::string helper;   // path of corvane-smbacl
    std::string smbConf;  // client configuration; "" = SMB_CONF_PATH or Samba's default
    unsigned workers = 0; // 0: one per core of the machine, at most 4
    std::chrono::milliseconds startTimeout{30000};
    // A helper that says nothing this long (it reports progress every second while it
    // works) is taken as hung on a server that no longer answers, and stopped.
    std::chrono::milliseconds idleTimeout{60000};
};

// Why the request cannot be sent at all ("" when it can); path is filled when it can.
std::string checkRequest(const GrantRequest& request, cacls::UncPath& path);

// The helper's failure (an NT status name and the stage it happened in) as the same
// message explainSmbcaclsFailure gives for the same cause.
std::string explainHelperFailure(const std::string& status, const std::string& stage, const std::string& where,
                                 const cacls::UncPath& path, const std::string& folder);

class GrantPool {
public:
    explicit GrantPool(PoolOptions options);
    ~GrantPool();
    GrantPool(const GrantPool&) = delete;
    GrantPool& operator=(const GrantPool&) = delete;

    // Starts the helpers for this many folders (up to the bound) without waiting for
    // them, so they get ready, and connect to the share of firstFolder when it is a
    // network folder, while the caller does other work. Once per pool.
    void prestart(std::size_t folders, const std::string& firstFolder = {});
    // Queues a folder; returns its number (0, 1, 2 ... in the order of submission).
    std::size_t submit(GrantRequest request);
    // The outcome of one folder submitted earlier, waiting for it as needed; the
    // others that finish meanwhile are kept for their own askers.
    GrantOutcome outcome(std::size_t ticket);
    // Without waiting: takes what the helpers said and hands queued folders to idle
    // ones, so folders submitted early are under way while the caller works on.
    void serve();
    // All of them, outcomes in the order given.
    std::vector<GrantOutcome> grantAll(const std::vector<GrantRequest>& requests);

    // "" while helpers serve (or start); otherwise why folders go to smbcacls.
    const std::string& fallbackReason() const { return m_fallbackReason; }
    std::size_t helpersRunning() const;

private:
    struct Queued {
        std::size_t ticket = 0;
        GrantRequest request;
    };
    struct Slot {
        std::unique_ptr<HelperProcess> process;
        bool ready = false; // it said READY; until then deadline is its start's
        bool busy = false;
        Queued job;
        cacls::UncPath path;
        std::chrono::steady_clock::time_point deadline;
    };

    // Waits for the next finished folder, in whatever order they finish; empty when
    // nothing is queued or under way.
    std::optional<std::pair<std::size_t, GrantOutcome>> next();
    void startHelpers(unsigned count);
    void checkStart(Slot& slot);
    void startFailed(const std::string& error);
    void settleStarts();
    void dispatch();
    void wait(bool block = true);
    void finish(Slot& slot, GrantOutcome outcome);
    void handleLine(Slot& slot, const std::string& line);
    GrantOutcome bySmbcacls(const GrantRequest& request) const;

    PoolOptions m_options;
    bool m_started = false;
    bool m_everReady = false;    // a helper said it was ready
    bool m_growthFailed = false; // a helper added later did not start: no more tries
    std::string m_startError;    // why the first helper that failed to start did
    cacls::UncPath m_connect;    // the share the helpers connect to at start ("" server: none)
    std::string m_fallbackReason;
    std::vector<Slot> m_slots;
    std::deque<Queued> m_pending;
    std::deque<std::pair<std::size_t, GrantOutcome>> m_done;
    std::map<std::size_t, GrantOutcome> m_kept; // finished while another was waited for
    std::size_t m_nextTicket = 0;
};

} // namespace smbacl
