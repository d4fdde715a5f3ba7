// What a request for /probe asks: which of the configured targets, and how
// long Prometheus waits for the answer.  Everything here comes from the
// network, so it is checked against the configured names only: a name that
// is not one of them never reaches a device.
#pragma once

#include "sncommon/httpServer.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace snctl {

struct ProbeRoute {
    enum class Outcome { Probe, NoTarget, UnknownTarget };
    Outcome outcome = Outcome::NoTarget;
    std::size_t target = 0;              // index into the configured names
    std::chrono::microseconds budget{};  // the probe must be answered within this
};

// The first "target" parameter, matched exactly against `names`; the budget
// from the X-Prometheus-Scrape-Timeout-Seconds header.
ProbeRoute routeProbe(const sncommon::HttpRequest& request, const std::vector<std::string>& names);

// The header's seconds: a finite number above 0; nothing for anything else.
std::optional<double> parseScrapeTimeout(std::string_view text);

// Time for the probe within Prometheus's timeout (10 s, its default, when
// it sent none): a margin for the answer's way back is kept.
std::chrono::microseconds probeBudget(std::optional<double> scrapeTimeoutSeconds);

}  // namespace snctl
