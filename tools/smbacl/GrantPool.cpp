#include "smbacl/GrantPool.h"

#include "cacls/SmbGrant.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <poll.h>
#include <unistd.h>

namespace smbacl {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> split(const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const auto tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

bool isCount(const std::string& text)
{
    return !text.empty() && text.size() < 19 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "60 s", "0.3 s"
std::string seconds(std::chrono::milliseconds ms)
{
    const long long whole = ms.count() / 1000, tenths = ms.count() % 1000 / 100;
    return std::to_string(whole) + (tenths ? "." + std::to_string(tenths) : "") + " s";
}

} // namespace

unsigned defaultHelpers()
{
    // Each helper is a process of its own: more than the machine has cores only
    // makes their starts (Python and Samba's libraries) queue for the CPU.
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    return static_cast<unsigned>(std::clamp(cores, 1L, 4L));
}

GrantPool::GrantPool(PoolOptions options)
    : m_options(std::move(options))
{
    m_options.workers = std::clamp(m_options.workers == 0 ? defaultHelpers() : m_options.workers, 1u, 32u);
}

GrantPool::~GrantPool()
{
    for (Slot& slot : m_slots)
        if (slot.process)
            slot.process->stop(std::chrono::milliseconds(1000));
}

std::size_t GrantPool::helpersRunning() const
{
    return static_cast<std::size_t>(
        std::count_if(m_slots.begin(), m_slots.end(), [](const Slot& s) { return s.process && s.process->running(); }));
}

void GrantPool::startHelpers(unsigned count)
{
    m_started = true;
    std::vector<std::string> argv{m_options.helper};
    const char* env = std::getenv("SMB_CONF_PATH");
    const std::string conf = !m_options.smbConf.empty() ? m_options.smbConf : env ? env : "";
    if (!conf.empty())
        argv.insert(argv.end(), {"--smb-conf", conf});
    if (!m_connect.server.empty())
        argv.insert(argv.end(), {"--connect", m_connect.server, m_connect.share});
    // All start at once and are not waited for here: each takes folders from the
    // moment it says it is ready.
    for (unsigned i = 0; i < count; ++i) {
        Slot slot;
        slot.process = std::make_unique<HelperProcess>();
        std::string error;
        if (!slot.process->spawn(argv, error)) {
            if (slot.process->startError() == ENOENT)
                error = "the permission helper " + m_options.helper + " is not installed";
            startFailed(error);
            break;
        }
        slot.deadline = Clock::now() + m_options.startTimeout;
        m_slots.push_back(std::move(slot));
    }
    settleStarts();
}

void GrantPool::startFailed(const std::string& error)
{
    if (m_startError.empty())
        m_startError = error;
    // One that served already shows the helper works: no more tries, no fallback.
    if (m_everReady)
        m_growthFailed = true;
}

void GrantPool::settleStarts()
{
    // Only those that never started go; one that served and died keeps its place, so
    // a helper that keeps dying is not started again and again.
    std::erase_if(m_slots, [](const Slot& s) { return !s.ready && !s.process->running(); });
    if (!m_everReady && m_slots.empty() && m_fallbackReason.empty())
        m_fallbackReason = m_startError.empty() ? "the permission helper did not start" : m_startError;
}

void GrantPool::checkStart(Slot& slot)
{
    const bool open = slot.process->pump();
    std::string line, error;
    if (slot.process->hasBufferedLine() && slot.process->readLine(line, std::chrono::milliseconds(0), error)) {
        const std::vector<std::string> fields = split(line);
        if (fields[0] == "READY" && fields.size() == 2 && fields[1] == "1") {
            slot.ready = m_everReady = true;
            return;
        }
        if (fields[0] == "UNAVAILABLE" && fields.size() >= 2)
            error = fields[1];
        else
            error = "the permission helper did not start: it said \"" + line.substr(0, 200) + "\"";
        slot.process->stop(std::chrono::milliseconds(500));
    } else if (!error.empty() || !open) {
        if (error.empty())
            slot.process->readLine(line, std::chrono::milliseconds(0), error); // reaps it and says how it ended
        slot.process->kill();
        error = "the permission helper did not start: " + error;
    } else if (Clock::now() >= slot.deadline) {
        slot.process->kill();
        error =
            "the permission helper did not start: no answer from the helper within " + seconds(m_options.startTimeout);
    } else {
        return;
    }
    startFailed(error);
}

void GrantPool::prestart(std::size_t folders, const std::string& firstFolder)
{
    if (m_started || folders == 0)
        return;
    // Only a share a grant could be sent for: by name, no control characters.
    const cacls::ParsedUnc parsed = cacls::parseUncPath(firstFolder);
    if (parsed.path && !cacls::isAddressOrLocalhost(parsed.path->server))
        m_connect = *parsed.path;
    startHelpers(static_cast<unsigned>(std::min<std::size_t>(folders, m_options.workers)));
}

std::size_t GrantPool::submit(GrantRequest request)
{
    const std::size_t ticket = m_nextTicket++;
    m_pending.push_back({ticket, std::move(request)});
    return ticket;
}

GrantOutcome GrantPool::bySmbcacls(const GrantRequest& request) const
{
    GrantOutcome outcome;
    outcome.bySmbcacls = true;
    const cacls::ParsedUnc parsed = cacls::parseUncPath(request.folder);
    if (!parsed.path) {
        outcome.message = request.folder + ": " + parsed.error;
        return outcome;
    }
    std::vector<std::string> names;
    for (const Account& account : request.accounts)
        names.push_back(account.name);
    const cacls::SmbOutcome done = cacls::grantOverSmb(request.folder, *parsed.path, names);
    outcome.ok = done.ok;
    outcome.message = done.message;
    return outcome;
}

void GrantPool::finish(Slot& slot, GrantOutcome outcome)
{
    slot.busy = false;
    m_done.emplace_back(slot.job.ticket, std::move(outcome));
    slot.job = {};
}

void GrantPool::dispatch()
{
    for (Slot& slot : m_slots) {
        if (m_pending.empty())
            return;
        if (slot.busy || !slot.ready || !slot.process->running())
            continue;
        Queued job = std::move(m_pending.front());
        m_pending.pop_front();
        cacls::UncPath path;
        if (std::string problem = checkRequest(job.request, path); !problem.empty()) {
            m_done.emplace_back(job.ticket, GrantOutcome{false, std::move(problem)});
            continue;
        }
        std::string line = "GRANT\t" + path.server + "\t" + path.share + "\t" + path.below;
        for (const Account& account : job.request.accounts)
            line += "\t" + account.sid;
        std::string error;
        if (!slot.process->send(line, error)) {
            // Nothing reached it: the folder waits for another helper (or smbcacls).
            slot.process->kill();
            m_pending.push_front(std::move(job));
            continue;
        }
        slot.busy = true;
        slot.job = std::move(job);
        slot.path = path;
        slot.deadline = Clock::now() + m_options.idleTimeout;
    }
}

void GrantPool::handleLine(Slot& slot, const std::string& line)
{
    const std::vector<std::string> fields = split(line);
    const std::string& folder = slot.job.request.folder;
    if (fields[0] == "PROGRESS" && fields.size() == 2 && isCount(fields[1])) {
        slot.deadline = Clock::now() + m_options.idleTimeout;
        return;
    }
    if (fields[0] == "OK" && fields.size() == 3 && isCount(fields[1]) && isCount(fields[2])) {
        finish(slot, {true, {}, std::stoull(fields[1]), std::stoull(fields[2])});
        return;
    }
    if (fields[0] == "FAIL" && fields.size() == 5 && fields[1].starts_with("NT_STATUS_")) {
        finish(slot, {false, explainHelperFailure(fields[1], fields[3], fields[4], slot.path, folder)});
        return;
    }
    if (fields[0] == "ERROR" && fields.size() == 2) {
        finish(slot, {false, "the permission helper refused the request for " + folder + ": " + fields[1]});
        return;
    }
    // Whatever it did to the folder is unknown now; it is not asked anything more.
    slot.process->kill();
    finish(slot, {false, "the permission helper gave an answer that makes no sense while granting on " + folder +
                             ": \"" + line.substr(0, 200) + "\"; it was stopped"});
}

void GrantPool::wait(bool block)
{
    std::vector<pollfd> fds;
    auto deadline = Clock::time_point::max();
    const auto watched = [](const Slot& s) {
        return s.busy || (!s.ready && s.process->running());
    };
    for (const Slot& slot : m_slots) {
        if (!watched(slot))
            continue;
        deadline = std::min(deadline, slot.deadline);
        fds.push_back({slot.process->outFd(), POLLIN, 0});
        if (slot.process->errFd() >= 0)
            fds.push_back({slot.process->errFd(), POLLIN, 0});
    }
    const bool buffered = std::any_of(m_slots.begin(), m_slots.end(),
                                      [&](const Slot& s) { return watched(s) && s.process->hasBufferedLine(); });
    if (!buffered && !fds.empty()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const int timeout = block ? static_cast<int>(std::clamp<long long>(left, 0, 60000)) : 0;
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR)
            return;
    }
    for (Slot& slot : m_slots)
        if (!slot.ready && slot.process->running())
            checkStart(slot);
    for (Slot& slot : m_slots) {
        if (!slot.busy)
            continue;
        const bool open = slot.process->pump();
        while (slot.busy && slot.process->hasBufferedLine()) {
            std::string line, error;
            if (!slot.process->readLine(line, std::chrono::milliseconds(0), error)) {
                slot.process->kill();
                finish(slot, {false, "the permission helper failed while granting on " + slot.job.request.folder +
                                         ": " + error + "; it was stopped"});
                break;
            }
            handleLine(slot, line);
        }
        if (!slot.busy)
            continue;
        if (!open) {
            std::string line, error;
            slot.process->readLine(line, std::chrono::milliseconds(0), error); // reaps it and says how it ended
            finish(slot, {false, "the permission helper stopped while granting on " + slot.job.request.folder + ": " +
                                     error + " (the folder may be partly granted; running the fix again is safe)"});
        } else if (Clock::now() >= slot.deadline) {
            slot.process->kill();
            finish(slot, {false, "no answer from the server \"" + slot.path.server + "\" for " +
                                     seconds(m_options.idleTimeout) + " while granting on " + slot.job.request.folder +
                                     "; the permission helper was stopped (the folder may be partly granted; "
                                     "running the fix again is safe)"});
        }
    }
    settleStarts();
}

std::optional<std::pair<std::size_t, GrantOutcome>> GrantPool::next()
{
    for (;;) {
        if (!m_done.empty()) {
            auto done = std::move(m_done.front());
            m_done.pop_front();
            return done;
        }
        const bool busy = std::any_of(m_slots.begin(), m_slots.end(), [](const Slot& s) { return s.busy; });
        if (m_pending.empty() && !busy)
            return std::nullopt;
        // As many helpers as there are folders to do at once, up to the bound; more
        // join when the queue grows while all are busy.
        const std::size_t idle = static_cast<std::size_t>(std::count_if(
            m_slots.begin(), m_slots.end(), [](const Slot& s) { return !s.busy && s.process->running(); }));
        if (!m_started || (m_fallbackReason.empty() && !m_growthFailed && m_pending.size() > idle &&
                           m_slots.size() < m_options.workers))
            startHelpers(static_cast<unsigned>(std::min<std::size_t>(
                m_pending.size() - std::min(idle, m_pending.size()), m_options.workers - m_slots.size())));
        dispatch();
        if (!m_done.empty())
            continue;
        if (helpersRunning() == 0 && !busy) {
            if (m_fallbackReason.empty())
                m_fallbackReason = "every permission helper has stopped";
            Queued job = std::move(m_pending.front());
            m_pending.pop_front();
            return std::make_pair(job.ticket, bySmbcacls(job.request));
        }
        wait();
    }
}

void GrantPool::serve()
{
    // Before the first start there is no one to hand work to; next() starts them.
    if (!m_started)
        return;
    wait(false);
    dispatch();
}

GrantOutcome GrantPool::outcome(std::size_t ticket)
{
    for (;;) {
        if (const auto kept = m_kept.find(ticket); kept != m_kept.end()) {
            GrantOutcome done = std::move(kept->second);
            m_kept.erase(kept);
            return done;
        }
        auto done = next();
        if (!done)
            return {false, "the permission fix gave no result for this folder"};
        if (done->first == ticket)
            return std::move(done->second);
        m_kept.emplace(done->first, std::move(done->second));
    }
}

std::vector<GrantOutcome> GrantPool::grantAll(const std::vector<GrantRequest>& requests)
{
    std::vector<std::size_t> tickets;
    for (const GrantRequest& r : requests)
        tickets.push_back(submit(r));
    std::vector<GrantOutcome> outcomes;
    for (const std::size_t ticket : tickets)
        outcomes.push_back(outcome(ticket));
    return outcomes;
}

} // namespace smbacl
