#include "cacls/UncPath.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <netinet/in.h>
#include <vector>

namespace cacls {
namespace {

std::vector<std::string> components(const std::string& text)
{
    std::vector<std::string> parts;
    std::string current;
    for (char c : text) {
        if (c == '\\' || c == '/') {
            if (!current.empty())
                parts.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty())
        parts.push_back(current);
    return parts;
}

bool hasControlCharacter(const std::string& text)
{
    return std::any_of(text.begin(), text.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; });
}

} // namespace

bool isUncPath(const std::string& folder)
{
    return folder.size() >= 2 && folder[0] == '\\' && folder[1] == '\\';
}

bool isAddressOrLocalhost(const std::string& server)
{
    std::string host = server;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    if (const auto zone = host.find('%'); zone != std::string::npos && host.find(':') != std::string::npos)
        host.resize(zone); // fe80::1%eth0
    in_addr v4{};
    in6_addr v6{};
    if (inet_aton(host.c_str(), &v4) != 0 || inet_pton(AF_INET6, host.c_str(), &v6) == 1)
        return true;
    std::string lowered = host;
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    // Windows' own spelling of an IPv6 address as a name.
    const std::string literal = ".ipv6-literal.net";
    if (lowered.size() > literal.size() && lowered.ends_with(literal))
        return true;
    return lowered == "localhost" || lowered.starts_with("localhost.");
}

ParsedUnc parseUncPath(const std::string& folder)
{
    if (!isUncPath(folder))
        return {std::nullopt, "not a network path"};
    if (hasControlCharacter(folder))
        return {std::nullopt, "the path contains control characters"};
    const std::vector<std::string> parts = components(folder.substr(2));
    // The server must follow the two backslashes directly: "\\\server" is no server name.
    if (parts.size() < 2 || folder.size() < 3 || folder[2] == '\\' || folder[2] == '/')
        return {std::nullopt, "a network folder is written \\\\server\\share\\folder"};
    UncPath path{parts[0], parts[1], {}};
    for (size_t i = 2; i < parts.size(); ++i) {
        // Windows would fold "." and ".." away; passing them on could name another folder.
        if (parts[i] == "." || parts[i] == "..")
            return {std::nullopt, "the path must not contain \".\" or \"..\""};
        path.below += (path.below.empty() ? "" : "/") + parts[i];
    }
    if (path.share == "." || path.share == "..")
        return {std::nullopt, "the path must not contain \".\" or \"..\""};
    return {std::move(path), {}};
}

} // namespace cacls
