// The exporter's pages: /probe?target=NAME reads one configured node at
// scrape time, /metrics shows the exporter's own figures.  Handlers run on
// the HTTP server's threads, several at once.
#pragma once

#include "exporterMetrics.h"
#include "exporterOptions.h"
#include "probeWorkers.h"
#include "targetNode.h"

#include "sncommon/httpServer.h"

#include <chrono>
#include <deque>
#include <string>
#include <vector>

namespace snctl {

class Exporter {
public:
    Exporter(const std::vector<ProbeTarget>& targets, bool modbusDebug);
    // Waits for probes still reading (each stops at its next read), then
    // closes the nodes.
    ~Exporter() = default;
    Exporter(const Exporter&) = delete;
    Exporter& operator=(const Exporter&) = delete;

    sncommon::HttpResponse handle(const sncommon::HttpRequest& request);

private:
    sncommon::HttpResponse probe(std::size_t target, std::chrono::microseconds budget);
    sncommon::HttpResponse refuse(Refusal reason, unsigned status, const char* text);
    std::string indexPage() const;

    std::vector<std::string> names_;
    std::deque<TargetNode> targets_;
    ExporterMetrics metrics_;
    ProbeWorkers workers_;  // last: it goes first, waiting for workers using the rest
};

}  // namespace snctl
