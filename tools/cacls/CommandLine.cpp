#include "cacls/CommandLine.h"

#include <algorithm>
#include <cctype>

namespace cacls {
namespace {

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool isSwitch(const std::string& arg)
{
    return arg.size() == 2 && arg[0] == '/';
}

ParsedCommandLine failure(std::string text)
{
    return {std::nullopt, std::move(text)};
}

} // namespace

const char* usageText()
{
    return "usage: cacls FOLDER /e /g ACCOUNT:F [ACCOUNT:F ...]\n"
           "  FOLDER   a local folder, or \\\\server\\share\\folder (edited over SMB with your Kerberos ticket)\n"
           "  /e       edit the access list (keep every other entry)\n"
           "  /g       grant ACCOUNT full control on FOLDER and everything below it; ACCOUNT may be\n"
           "           name, DOMAIN\\name or name@realm, a user or a group\n"
           "  /t /c    accepted: the whole tree is always processed, past objects that refuse the change\n";
}

ParsedCommandLine parseCommandLine(const std::vector<std::string>& args)
{
    if (args.empty())
        return failure("no folder given");
    Request request;
    // The first argument is the folder whatever it looks like: a folder may be named "-e" or "/g".
    request.folder = args[0];
    if (request.folder.empty())
        return failure("the folder is empty");

    bool edit = false;
    bool grantSeen = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string sw = lower(args[i]);
        if (!isSwitch(sw))
            return failure("unexpected argument \"" + args[i] + "\" (only one folder can be given)");
        if (sw == "/e" || sw == "/t" || sw == "/c") {
            edit = edit || sw == "/e";
            continue;
        }
        if (sw == "/r" || sw == "/p" || sw == "/d")
            return failure(args[i] + " is not supported: this tool only grants (/e /g ACCOUNT:F)");
        if (sw != "/g")
            return failure("unknown switch " + args[i]);
        grantSeen = true;
        size_t given = 0;
        for (; i + 1 < args.size() && !isSwitch(args[i + 1]); ++i, ++given) {
            const std::string& grant = args[i + 1];
            // The right follows the last colon: "DOMAIN\name:F".
            const auto colon = grant.rfind(':');
            if (colon == std::string::npos)
                return failure("\"" + grant + "\" has no right: write ACCOUNT:F");
            const std::string account = grant.substr(0, colon);
            const std::string right = grant.substr(colon + 1);
            if (account.empty())
                return failure("\"" + grant + "\" names no account");
            if (right != "F" && right != "f")
                return failure("only full control can be granted (ACCOUNT:F), not \"" + right + "\"");
            if (std::find(request.accounts.begin(), request.accounts.end(), account) == request.accounts.end())
                request.accounts.push_back(account);
        }
        if (given == 0)
            return failure("/g needs at least one ACCOUNT:F");
    }
    if (!grantSeen)
        return failure("nothing to do: give /g ACCOUNT:F");
    // Without /e the system tool replaces the whole access list; that would lock out
    // everyone else, so it is refused rather than done.
    if (!edit)
        return failure("without /e the whole access list would be replaced; this tool only edits it: add /e");
    return {std::move(request), {}};
}

} // namespace cacls
