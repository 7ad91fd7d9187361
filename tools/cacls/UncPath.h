#pragma once

#include <optional>
#include <string>

// A network folder written as \\server\share\path\below: what the directory's
// homeDirectory holds and what the update hands to the tool.
namespace cacls {

struct UncPath {
    std::string server;
    std::string share;
    std::string below; // path below the share, '/'-separated, "" for the share itself
};

struct ParsedUnc {
    std::optional<UncPath> path;
    std::string error;
};

bool isUncPath(const std::string& folder);
ParsedUnc parseUncPath(const std::string& folder);

// Kerberos tickets name the server, so an address (v4 in any form inet_aton takes,
// v6 with or without brackets) or "localhost" cannot be used.
bool isAddressOrLocalhost(const std::string& server);

} // namespace cacls
