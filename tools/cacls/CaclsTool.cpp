#include "cacls/CaclsTool.h"

#include "cacls/AccountLookup.h"
#include "cacls/CommandLine.h"
#include "cacls/LocalGrant.h"
#include "cacls/SmbGrant.h"

namespace cacls {
namespace {

// More lines than this would bury the message in a log; the count still tells the size.
constexpr std::size_t MaxFailureLines = 20;

std::string accountList(const std::vector<std::string>& names)
{
    std::string list;
    for (const std::string& name : names)
        list += (list.empty() ? "" : ", ") + name;
    return list;
}

int runLocal(const Request& request, std::ostream& out, std::ostream& err)
{
    // Every account is resolved before anything is touched: an unknown one changes nothing.
    std::vector<AclGrant> grants;
    std::vector<std::string> described;
    for (const std::string& name : request.accounts) {
        const LookupResult found = lookupAccount(name);
        if (found.status == LookupStatus::Failed) {
            err << "cacls: could not look up account \"" << name << "\": " << found.detail << "\n";
            return ExitFailed;
        }
        if (found.status == LookupStatus::Unknown && !found.domain.empty()) {
            err << "cacls: unknown account \"" << name << "\": this system knows no such user or group in the domain \""
                << found.domain << "\" (a local account of the same name is never used in its place)\n";
            return ExitFailed;
        }
        if (found.status == LookupStatus::Unknown) {
            err << "cacls: unknown account \"" << name << "\": no such user or group\n";
            return ExitFailed;
        }
        grants.push_back({found.account.kind == AccountKind::Group, found.account.id});
        described.push_back(name + " (" + kindName(found.account.kind) + " " + std::to_string(found.account.id) + ")");
    }

    const LocalReport report = grantLocal(request.folder, grants);
    if (!report.folderFound) {
        err << "cacls: folder not found: " << request.folder << "\n";
        return ExitFailed;
    }
    if (!report.failures.empty()) {
        if (report.stopped)
            err << "cacls: nothing changed: ";
        else
            err << "cacls: the grant did not reach everything in " << request.folder << " (" << report.failures.size()
                << (report.failures.size() == 1 ? " problem" : " problems") << "); the rest was granted:\n";
        for (std::size_t i = 0; i < report.failures.size() && i < MaxFailureLines; ++i)
            err << (report.stopped ? "" : "  ") << report.failures[i] << "\n";
        if (report.failures.size() > MaxFailureLines)
            err << "  ... and " << report.failures.size() - MaxFailureLines << " more\n";
        return ExitFailed;
    }
    out << "Granted full control to " << accountList(described) << " on " << request.folder << ": " << report.folders
        << " folders and " << report.files << " files (" << report.changed << " changed";
    if (report.linksSkipped > 0)
        out << ", " << report.linksSkipped << (report.linksSkipped == 1 ? " symbolic link" : " symbolic links")
            << " left alone";
    if (report.specialsSkipped > 0)
        out << ", " << report.specialsSkipped
            << (report.specialsSkipped == 1 ? " device, pipe or socket" : " devices, pipes or sockets")
            << " left alone";
    out << ").\n";
    return ExitOk;
}

int runNetwork(const Request& request, std::ostream& out, std::ostream& err)
{
    const ParsedUnc parsed = parseUncPath(request.folder);
    if (!parsed.path) {
        err << "cacls: " << request.folder << ": " << parsed.error << "\n";
        return ExitUsage;
    }
    const SmbOutcome outcome = grantOverSmb(request.folder, *parsed.path, request.accounts);
    if (!outcome.ok) {
        err << "cacls: " << outcome.message << "\n";
        return ExitFailed;
    }
    out << "Granted full control to " << accountList(request.accounts) << " on " << request.folder
        << " and everything below it.\n";
    return ExitOk;
}

} // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    const ParsedCommandLine parsed = parseCommandLine(args);
    if (!parsed.request) {
        err << "cacls: " << parsed.error << "\n" << usageText();
        return ExitUsage;
    }
    if (isUncPath(parsed.request->folder))
        return runNetwork(*parsed.request, out, err);
    return runLocal(*parsed.request, out, err);
}

} // namespace cacls
