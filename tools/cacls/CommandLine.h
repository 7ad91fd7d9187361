#pragma once

#include <optional>
#include <string>
#include <vector>

// The command line the directory update uses: `cacls FOLDER /e /g ACCOUNT:F [ACCOUNT:F ...]`.
// Only grants of full control as an edit are understood; replacing the whole
// access list, revoking and denying are refused rather than half done.
namespace cacls {

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

struct Request {
    std::string folder;                // always the first argument, never read as an option
    std::vector<std::string> accounts; // in the order given, without duplicates
};

struct ParsedCommandLine {
    std::optional<Request> request;
    std::string error; // set when request is empty
};

ParsedCommandLine parseCommandLine(const std::vector<std::string>& args);

const char* usageText();

} // namespace cacls
