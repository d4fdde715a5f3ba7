#include "exporter.h"

#include "probeJob.h"
#include "probePage.h"
#include "probeRequest.h"

#include "sncommon/prometheusText.h"

#include <memory>

namespace snctl {

namespace {

std::vector<std::string> namesOf(const std::vector<ProbeTarget>& targets) {
    std::vector<std::string> names;
    for (const ProbeTarget& target : targets) names.push_back(target.name);
    return names;
}

}  // namespace

Exporter::Exporter(const std::vector<ProbeTarget>& targets, bool modbusDebug)
    : names_(namesOf(targets)), metrics_(names_) {
    for (const ProbeTarget& target : targets) targets_.emplace_back(target, modbusDebug);
}

sncommon::HttpResponse Exporter::handle(const sncommon::HttpRequest& request) {
    if (request.path == "/probe") {
        const ProbeRoute route = routeProbe(request, names_);
        switch (route.outcome) {
            case ProbeRoute::Outcome::Probe:
                return probe(route.target, route.budget);
            case ProbeRoute::Outcome::NoTarget:
                return refuse(Refusal::NoTarget, 400, "/probe needs ?target=NAME\n");
            case ProbeRoute::Outcome::UnknownTarget:
                return refuse(Refusal::UnknownTarget, 400,
                              "unknown target: only those given with --target are probed\n");
        }
    }
    if (request.path == "/metrics")
        return {200, sncommon::kPrometheusContentType, metrics_.render()};
    if (request.path == "/") return {200, "text/plain; charset=utf-8", indexPage()};
    return refuse(Refusal::NotFound, 404, "not found\n");
}

sncommon::HttpResponse Exporter::probe(std::size_t target, std::chrono::microseconds budget) {
    const auto start = ProbeJob::Clock::now();
    const auto deadline = start + budget;
    auto job = std::make_shared<ProbeJob>();
    TargetNode& node = targets_[target];
    workers_.start([job, &node, deadline] {
        job->finish(node.probe(
            deadline, [&job](const NodeReadings& readings) { return job->publish(readings); }));
    });
    const NodeReadings readings = job->await(deadline);
    const double seconds = std::chrono::duration<double>(ProbeJob::Clock::now() - start).count();
    metrics_.probe(target, readings.failure, seconds);
    return {200, sncommon::kPrometheusContentType, renderProbePage(readings, seconds)};
}

sncommon::HttpResponse Exporter::refuse(Refusal reason, unsigned status, const char* text) {
    metrics_.refused(reason);
    return {status, "text/plain; charset=utf-8", text};
}

std::string Exporter::indexPage() const {
    std::string page = "snctl exporter\n\n/metrics  the exporter's own metrics\n";
    for (const std::string& name : names_) page += "/probe?target=" + name + "\n";
    return page;
}

}  // namespace snctl
