#include "access.h"

#include <sys/random.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace snweb {

namespace {

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool isLoopback(const std::string& host) {
    return host == "127.0.0.1" || host == "::1" || host == "localhost";
}

}  // namespace

AccessPolicy makePolicy(std::string token, const std::string& listenHost, int port,
                        const std::vector<std::string>& allowedHosts) {
    AccessPolicy policy;
    policy.token = std::move(token);
    policy.port = port;
    policy.hostNames.push_back(listenHost);
    if (isLoopback(listenHost)) {
        for (const char* name : {"127.0.0.1", "localhost", "::1"})
            if (listenHost != name) policy.hostNames.push_back(name);
    }
    for (const std::string& name : allowedHosts) policy.hostNames.push_back(name);
    return policy;
}

bool tokenMatches(std::string_view token, std::string_view given) {
    if (token.empty() || given.size() != token.size()) return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < token.size(); ++i)
        difference |= static_cast<unsigned char>(token[i] ^ given[i]);
    return difference == 0;
}

std::optional<std::string_view> cookieValue(std::string_view header, std::string_view name) {
    while (!header.empty()) {
        const std::size_t end = std::min(header.find(';'), header.size());
        std::string_view pair = header.substr(0, end);
        header.remove_prefix(std::min(end + 1, header.size()));
        while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
        const std::size_t equals = pair.find('=');
        if (equals != std::string_view::npos && pair.substr(0, equals) == name)
            return pair.substr(equals + 1);
    }
    return std::nullopt;
}

bool hostAllowed(const AccessPolicy& policy, std::string_view host) {
    std::string_view name = host;
    std::string_view port;
    if (!host.empty() && host.front() == '[') {
        const std::size_t close = host.find(']');
        if (close == std::string_view::npos) return false;
        name = host.substr(1, close - 1);
        const std::string_view rest = host.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') return false;
        if (!rest.empty()) port = rest.substr(1);
    } else if (const std::size_t colon = host.find(':'); colon != std::string_view::npos) {
        name = host.substr(0, colon);
        port = host.substr(colon + 1);
    }
    if (!port.empty() && port != std::to_string(policy.port)) return false;
    if (port.empty() && host.find(':') != std::string_view::npos && host.front() != '[')
        return false;                                     // "name:" with nothing after
    if (port.empty() && policy.port != 80) return false;  // browsers always send other ports
    return std::any_of(policy.hostNames.begin(), policy.hostNames.end(),
                       [&](const std::string& allowed) { return sameName(allowed, name); });
}

bool originAllowed(const AccessPolicy& policy, std::string_view origin) {
    constexpr std::string_view scheme = "http://";
    if (origin.substr(0, scheme.size()) != scheme) return false;
    const std::string_view host = origin.substr(scheme.size());
    return !host.empty() && host.find('/') == std::string_view::npos && hostAllowed(policy, host);
}

std::string newToken() {
    unsigned char bytes[32];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0) throw std::runtime_error("no random bytes for the token");
        got += static_cast<std::size_t>(n);
    }
    std::string hex;
    char two[3];
    for (const unsigned char b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        hex += two;
    }
    return hex;
}

std::string readTokenFile(const std::string& path) {
    std::ifstream file(path);
    std::string token;
    if (!file || !std::getline(file, token)) throw std::runtime_error("cannot read " + path);
    const bool plain = std::all_of(token.begin(), token.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_';
    });
    if (token.size() < 16 || token.size() > 256 || !plain)
        throw std::runtime_error(path +
                                 ": the token must be 16 to 256 letters, digits, '-' or '_'");
    return token;
}

}  // namespace snweb
