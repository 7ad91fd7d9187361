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
    std::vector<std::size_t> tickets;
    for (const std::size_t i : network) {
        const std::optional<std::size_t> early = takeEarly(requests[i]);
        tickets.push_back(early ? *early : m_pool.submit(requests[i]));
    }
    for (std::size_t k = 0; k < network.size(); ++k)
        outcomes[network[k]] = m_pool.outcome(tickets[k]);
    for (std::thread& w : workers)
        w.join();
    return outcomes;
}

namespace {

bool sameRequest(const GrantRequest& a, const GrantRequest& b)
{
    return a.folder == b.folder &&
           std::equal(a.accounts.begin(), a.accounts.end(), b.accounts.begin(), b.accounts.end(),
                      [](const Account& x, const Account& y) { return x.name == y.name && x.sid == y.sid; });
}

} // namespace

void PermissionBatch::submitEarly(const GrantRequest& request)
{
    if (!cacls::isUncPath(request.folder))
        return;
    m_early.push_back({request, m_pool.submit(request)});
    m_pool.serve();
}

bool PermissionBatch::submittedEarly(const GrantRequest& request) const
{
    return std::any_of(m_early.begin(), m_early.end(), [&](const Early& e) { return sameRequest(e.request, request); });
}

std::optional<std::size_t> PermissionBatch::takeEarly(const GrantRequest& request)
{
    const auto it =
        std::find_if(m_early.begin(), m_early.end(), [&](const Early& e) { return sameRequest(e.request, request); });
    if (it == m_early.end())
        return std::nullopt;
    const std::size_t ticket = it->ticket;
    m_early.erase(it);
    return ticket;
}

} // namespace smbacl
