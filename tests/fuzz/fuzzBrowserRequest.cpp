// What snweb takes from a browser before anything else happens: the path,
// the Host, Origin and Cookie headers, and a command's JSON body.  Whatever
// arrives, nothing crashes, and what passes is within the node's bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "access.h"
#include "actions.h"
#include "routes.h"

namespace {

void check(bool holds) {
    if (!holds) std::abort();
}

void checkCommand(const snweb::Command& c) {
    switch (c.action) {
        case snweb::Action::Power:
            check(c.index >= 0 && c.index <= 3);
            break;
        case snweb::Action::AnalogParms:
            check(c.index >= 0 && c.index <= 7);
            break;
        case snweb::Action::Blink:
            check(c.value >= 0 && c.value <= 2);
            break;
        case snweb::Action::PortBreak:
            check(c.value >= 1 && c.value <= 5000);
            break;
        default:
            break;
    }
    if (c.action >= snweb::Action::PortLine) check(c.index >= 0 && c.index <= 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\n');
    const std::string_view head = input.substr(0, split);
    const std::string_view body = split == std::string_view::npos ? "" : input.substr(split + 1);

    const snweb::Route route = snweb::routeOf(head);
    if (route.page == snweb::Page::Port) check(route.port >= 0 && route.port <= 2);
    check(route.node.find_first_of("/<>\"'& ") == std::string::npos);

    static const snweb::AccessPolicy policy =
        snweb::makePolicy("0123456789abcdef0123456789abcdef", "127.0.0.1", 9741, {"rack.example"});
    if (snweb::originAllowed(policy, head)) check(head.rfind("http://", 0) == 0);
    snweb::hostAllowed(policy, head);
    if (const auto value = snweb::cookieValue(head, snweb::kCookieName))
        check(value->data() >= head.data() && value->data() + value->size() <= head.end());
    check(!snweb::tokenMatches("", head));

    const snweb::ParsedCommand parsed = snweb::parseCommand(route.detail, body);
    if (parsed.command) checkCommand(*parsed.command);
    return 0;
}
