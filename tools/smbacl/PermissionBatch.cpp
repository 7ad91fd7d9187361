#include "smbacl/PermissionBatch.h"

#include "cacls/ChildProcess.h"
#include "cacls/UncPath.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace smbacl {
namespace {

// The tool's own words on one line, for the log.
std::string oneLine(const std::string& text)
{
    std::string line;
    bool blank = false;
    for (const char c : text) {
        const bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r';
        if (space) {
            blank = !line.empty();
            continue;
        }
        if (blank)
            line += ' ';
        blank = false;
        line += c;
    }
    return line;
}

} // namespace

std::string describeToolRun(const cacls::ChildResult& run, const std::string& tool)
{
    if (!run.started)
        return "could not start " + tool;
    const std::string text = oneLine(run.out);
    if (run.exitCode < 0)
        return "the tool crashed" + (text.empty() ? std::string() : ": " + text);
    return text.empty() ? "exit code " + std::to_string(run.exitCode) : text;
}

PermissionBatch::PermissionBatch(BatchOptions options)
    : m_options(std::move(options))
    , m_pool(m_options.smb)
{
    m_options.localWorkers = std::clamp(m_options.localWorkers, 1u, 32u);
}

GrantOutcome PermissionBatch::fixLocal(const GrantRequest& request) const
{
    // One run per account, in order, as the update has always run them: a user the
    // system does not know leaves the group's grant still made.
    GrantOutcome outcome;
    outcome.ok = true;
    std::string messages;
    for (const Account& account : request.accounts) {
        const cacls::ChildResult run =
            cacls::runChild({m_options.tool, request.folder, "/e", "/g", account.name + ":F"}, true);
        if (run.started && run.exitCode == 0)
            continue;
        outcome.ok = false;
        const std::string message = m_options.describe ? m_options.describe(run) : describeToolRun(run, m_options.tool);
        messages += (messages.empty() ? "" : "; ") + message;
    }
    outcome.message = messages;
    return outcome;
}

std::vector<GrantOutcome> PermissionBatch::fixAll(const std::vector<GrantRequest>& requests)
{
    std::vector<GrantOutcome> outcomes(requests.size());
    std::vector<std::size_t> local, network;
    for (std::size_t i = 0; i < requests.size(); ++i)
        (cacls::isUncPath(requests[i].folder) ? network : local).push_back(i);

    // Local folders on worker threads while this thread serves the helpers.
    std::atomic<std::size_t> nextLocal{0};
    std::vector<std::thread> workers;
    const std::size_t threads = std::min<std::size_t>(m_options.localWorkers, local.size());
    for (std::size_t t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            for (std::size_t k; (k = nextLocal++) < local.size();)
                outcomes[local[k]] = fixLocal(requests[local[k]]);
        });
    if (!network.empty()) {
        std::vector<GrantRequest> smb;
        for (const std::size_t i : network)
            smb.push_back(requests[i]);
        std::vector<GrantOutcome> done = m_pool.grantAll(smb);
        for (std::size_t k = 0; k < network.size(); ++k)
            outcomes[network[k]] = std::move(done[k]);
    }
    for (std::thread& w : workers)
        w.join();
    return outcomes;
}

} // namespace smbacl
