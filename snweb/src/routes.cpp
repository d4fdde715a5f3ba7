#include "routes.h"

#include <algorithm>
#include <cctype>

namespace snweb {

namespace {

bool plainName(std::string_view name) {
    return !name.empty() && name.size() <= 64 && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '_' || c == '-';
    });
}

// Splits "a/b/c" at the first slash: "a", then "b/c" left in `rest`.
std::string_view nextPart(std::string_view& rest) {
    const std::size_t slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    return part;
}

Route named(Page page, std::string_view node, std::string_view detail = {}) {
    Route route;
    if (!plainName(node) || (!detail.empty() && !plainName(detail))) return route;
    route.page = page;
    route.node = std::string(node);
    route.detail = std::string(detail);
    return route;
}

// NAME, or NAME/port/P: `whole` for the first, `port` for the second.
Route nodeRoute(std::string_view rest, Page whole, Page port) {
    const std::string_view name = nextPart(rest);
    if (rest.empty()) return named(whole, name);
    if (nextPart(rest) != "port" || rest.size() != 1 || rest[0] < '0' || rest[0] > '2') return {};
    Route route = named(port, name);
    if (route.page == port) route.port = rest[0] - '0';
    return route;
}

Route apiRoute(std::string_view rest) {
    if (nextPart(rest) != "node") return {};
    const std::string_view name = nextPart(rest);
    if (rest.empty() || rest.find('/') != std::string_view::npos) return {};
    if (rest == "window.csv") return named(Page::Csv, name);
    return named(Page::Command, name, rest);
}

}  // namespace

Route routeOf(std::string_view path) {
    if (path == "/") return {Page::Overview, "", -1, ""};
    if (path.empty() || path[0] != '/') return {};
    std::string_view rest = path.substr(1);
    const std::string_view first = nextPart(rest);
    if (first == "node") return nodeRoute(rest, Page::Node, Page::Port);
    if (first == "api") return apiRoute(rest);
    if (first == "ws" && rest.empty() && path == "/ws") return {Page::SocketOverview, "", -1, ""};
    if (first == "ws" && nextPart(rest) == "node")
        return nodeRoute(rest, Page::SocketNode, Page::SocketTerminal);
    if (first == "static" && rest.find('/') == std::string_view::npos && plainName(rest))
        return {Page::Asset, "", -1, std::string(rest)};
    return {};
}

}  // namespace snweb
