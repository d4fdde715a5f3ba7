#include "probeRequest.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace snctl {

namespace {

constexpr double kDefaultScrapeTimeout = 10.0;  // Prometheus's own default
constexpr double kLongestScrapeTimeout = 600.0;
constexpr double kLargestMargin = 0.25;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::optional<double> parseScrapeTimeout(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    double seconds = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, seconds);
    if (error != std::errc() || stop != end || !std::isfinite(seconds) || seconds <= 0)
        return std::nullopt;
    return seconds;
}

std::chrono::microseconds probeBudget(std::optional<double> scrapeTimeoutSeconds) {
    const double timeout =
        std::min(scrapeTimeoutSeconds.value_or(kDefaultScrapeTimeout), kLongestScrapeTimeout);
    // A quarter of a short timeout, at most 250 ms of a long one.
    const double budget = timeout - std::min(kLargestMargin, timeout / 4);
    return std::chrono::microseconds(static_cast<long long>(budget * 1e6));
}

ProbeRoute routeProbe(const sncommon::HttpRequest& request, const std::vector<std::string>& names) {
    ProbeRoute route;
    const std::optional<std::string_view> target = request.queryValue("target");
    if (!target) return route;
    const auto found = std::find(names.begin(), names.end(), *target);
    if (found == names.end()) {
        route.outcome = ProbeRoute::Outcome::UnknownTarget;
        return route;
    }
    route.outcome = ProbeRoute::Outcome::Probe;
    route.target = static_cast<std::size_t>(found - names.begin());
    const auto header = request.header("X-Prometheus-Scrape-Timeout-Seconds");
    route.budget = probeBudget(header ? parseScrapeTimeout(*header) : std::nullopt);
    return route;
}

}  // namespace snctl
