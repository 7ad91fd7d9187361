#pragma once

#include <ostream>
#include <string>
#include <vector>

// The permission tool's whole run: command line in, messages out, exit status back.
namespace cacls {

// args: the command line without the program name. Returns ExitOk, ExitFailed or ExitUsage.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace cacls
