// What the exporter counts about itself, for its own /metrics: probes and
// their failures by kind and their durations, per target, and requests it
// refused.  Safe from any thread.
#pragma once

#include "nodeReadings.h"

#include "sncommon/prometheusMetrics.h"

#include <array>
#include <cstddef>
#include <deque>
#include <string>
#include <vector>

namespace snctl {

enum class Refusal { NoTarget, UnknownTarget, NotFound };

class ExporterMetrics {
public:
    explicit ExporterMetrics(const std::vector<std::string>& targets);

    void probe(std::size_t target, ProbeFailure failure, double seconds);
    void refused(Refusal reason);

    // Prometheus text format.  Every target and kind is there from the
    // start, at 0, so rates work from the first scrape.
    std::string render() const;

private:
    struct PerTarget {
        std::string name;
        sncommon::Counter probes;
        std::array<sncommon::Counter, kProbeFailures.size()> failures;
        sncommon::Histogram durations{sncommon::Histogram::secondsBuckets()};
    };

    std::deque<PerTarget> targets_;  // deque: the counters cannot move
    std::array<sncommon::Counter, 3> refused_;
};

}  // namespace snctl
