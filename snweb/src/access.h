// Who may see and change anything: the token (from the printed URL, then
// a cookie), the Host header (DNS rebinding) and the Origin of changes and
// WebSockets (cross-site requests).  Pure functions of the request's
// headers, so they are tested and fuzzed without a server.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace snweb {

inline constexpr const char* kCookieName = "snweb_token";

struct AccessPolicy {
    std::string token;
    std::vector<std::string> hostNames;  // names the pages are reached by, without port
    int port = 0;                        // the port they listen on
};

// The listen host, the loopback names when it is a loopback address, and
// the --allow-host names.
AccessPolicy makePolicy(std::string token, const std::string& listenHost, int port,
                        const std::vector<std::string>& allowedHosts);

// In time independent of where the two differ.
bool tokenMatches(std::string_view token, std::string_view given);

// The value of cookie `name` in a Cookie header.
std::optional<std::string_view> cookieValue(std::string_view header, std::string_view name);

// "NAME" or "NAME:PORT" ("[::1]:PORT"), NAME one of the policy's and PORT
// the listen port.
bool hostAllowed(const AccessPolicy& policy, std::string_view host);

// A browser's Origin of this very site: "http://" and an allowed Host.
bool originAllowed(const AccessPolicy& policy, std::string_view origin);

// 32 random bytes in hex.
std::string newToken();

// The first line of `path`, at least 16 characters of [A-Za-z0-9_-];
// throws std::runtime_error saying what is wrong.
std::string readTokenFile(const std::string& path);

}  // namespace snweb
