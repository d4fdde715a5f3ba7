// libFuzzer target: what a request for /probe may carry (query parameters
// and the scrape-timeout header) through the exporter's routing.  Input
// bytes split at NUL: the header's value, then parameter names and values
// in turn.  Invariants: only a configured name is ever probed, it is the
// first "target" given, and the probe's time is positive and bounded.
#include "probeRequest.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

std::vector<std::string> split(const uint8_t* data, std::size_t size) {
    std::vector<std::string> pieces(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            pieces.emplace_back();
        } else {
            pieces.back().push_back(static_cast<char>(data[i]));
        }
    }
    return pieces;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static const std::vector<std::string> names{"node-a", "node-b", "bus.7"};
    const std::vector<std::string> pieces = split(data, size);
    sncommon::HttpRequest request;
    request.method = "GET";
    request.path = "/probe";
    request.headers.push_back({"X-Prometheus-Scrape-Timeout-Seconds", pieces[0]});
    for (std::size_t i = 1; i + 1 < pieces.size(); i += 2)
        request.query.push_back({pieces[i], pieces[i + 1]});

    const auto timeout = snctl::parseScrapeTimeout(pieces[0]);
    require(!timeout || (std::isfinite(*timeout) && *timeout > 0));

    const snctl::ProbeRoute route = snctl::routeProbe(request, names);
    const auto first =
        std::find_if(request.query.begin(), request.query.end(),
                     [](const sncommon::HttpField& f) { return f.name == "target"; });
    using Outcome = snctl::ProbeRoute::Outcome;
    require((route.outcome == Outcome::NoTarget) == (first == request.query.end()));
    if (route.outcome == Outcome::UnknownTarget)
        require(std::find(names.begin(), names.end(), first->value) == names.end());
    if (route.outcome == Outcome::Probe) {
        require(route.target < names.size() && names[route.target] == first->value);
        require(route.budget >= std::chrono::microseconds(0) &&
                route.budget <= std::chrono::seconds(600));
    }
    return 0;
}
