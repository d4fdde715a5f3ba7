#include "exporterMetrics.h"

#include "sncommon/prometheusText.h"

#include <algorithm>

namespace snctl {

namespace {

constexpr std::array<const char*, 3> kRefusalReasons = {"no_target", "unknown_target", "not_found"};

}  // namespace

ExporterMetrics::ExporterMetrics(const std::vector<std::string>& targets) {
    for (const std::string& name : targets) targets_.emplace_back().name = name;
}

void ExporterMetrics::probe(std::size_t target, ProbeFailure failure, double seconds) {
    PerTarget& t = targets_.at(target);
    t.probes.add();
    t.durations.observe(seconds);
    const auto kind = std::find(kProbeFailures.begin(), kProbeFailures.end(), failure);
    if (kind != kProbeFailures.end())
        t.failures[static_cast<std::size_t>(kind - kProbeFailures.begin())].add();
}

void ExporterMetrics::refused(Refusal reason) { refused_[static_cast<std::size_t>(reason)].add(); }

std::string ExporterMetrics::render() const {
    using sncommon::MetricType;
    sncommon::PrometheusText text;
    text.family("sn_exporter_probes_total", MetricType::Counter, "Probes made, by target.");
    for (const PerTarget& t : targets_) text.sample({{"target", t.name}}, t.probes);
    text.family("sn_exporter_probe_failures_total", MetricType::Counter,
                "Probes that did not read everything, by target and the kind of the first "
                "failure.");
    for (const PerTarget& t : targets_) {
        for (std::size_t k = 0; k < kProbeFailures.size(); ++k)
            text.sample({{"target", t.name}, {"kind", failureKind(kProbeFailures[k])}},
                        t.failures[k]);
    }
    text.family("sn_exporter_probe_duration_seconds", MetricType::Histogram,
                "Time from a probe's request to its answer, by target.");
    for (const PerTarget& t : targets_) text.sample({{"target", t.name}}, t.durations);
    text.family("sn_exporter_refused_requests_total", MetricType::Counter,
                "Requests answered without a probe, by reason.");
    for (std::size_t r = 0; r < kRefusalReasons.size(); ++r)
        text.sample({{"reason", kRefusalReasons[r]}}, refused_[r]);
    return text.text();
}

}  // namespace snctl
