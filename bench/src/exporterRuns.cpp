#include "exporterRuns.h"

#include <algorithm>
#include <chrono>
#include <regex>
#include <thread>

#include "busDaemonProcess.h"
#include "capturedProcess.h"
#include "lineLimit.h"
#include "nodeRig.h"
#include "snsim/emulator.h"

namespace snbench {

namespace {

// The eleven reads of a probe: five single registers, the two-register
// board configuration, eight analog channels in one, four coils.
double probeLineChars() {
    const auto registers = [](int n) { return 8 + (5 + 2 * n) + 7; };
    return 5 * registers(1) + registers(2) + registers(8) + 4 * (8 + 6 + 7);
}

// The exporter's port, once it says where it listens.
uint16_t waitForPort(const sntest::CapturedProcess& exporter) {
    const std::regex ready("listen: 127\\.0\\.0\\.1:([0-9]+)");
    std::smatch found;
    for (int i = 0; i < 500; ++i) {
        const std::string out = exporter.outputSoFar();
        if (std::regex_search(out, found, ready)) return static_cast<uint16_t>(std::stoi(found[1]));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
}

struct OneProbe {
    bool up = false;
    double ms = 0, reportedMs = 0;
};

// curl's own clock: the exchange without curl's start-up.
OneProbe probeOnce(uint16_t port, const std::string& target) {
    const sntest::RunResult run = sntest::runProgram(
        {"/usr/bin/curl", "-s", "-w", "\ntime_total %{time_total}\n",
         "http://127.0.0.1:" + std::to_string(port) + "/probe?target=" + target});
    std::smatch up, total, reported;
    OneProbe probe;
    probe.up = std::regex_search(run.out, up, std::regex("\nsn_up 1\n"));
    if (std::regex_search(run.out, total, std::regex("time_total ([0-9.]+)")))
        probe.ms = 1000 * std::stod(total[1]);
    if (std::regex_search(run.out, reported, std::regex("sn_probe_duration_seconds ([0-9.e-]+)")))
        probe.reportedMs = 1000 * std::stod(reported[1]);
    return probe;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

ProbeFigures measureTarget(uint16_t port, const std::string& target, snsim::Emulator& node,
                           int probes) {
    ProbeFigures f;
    const OneProbe first = probeOnce(port, target);
    f.firstMs = first.ms;
    node.clearLog();
    std::vector<double> times, reported;
    bool allUp = first.up;
    for (int i = 0; i < probes; ++i) {
        const OneProbe p = probeOnce(port, target);
        allUp = allUp && p.up;
        times.push_back(p.ms);
        reported.push_back(p.reportedMs);
    }
    f.transactions = static_cast<double>(node.log().size()) / probes;
    f.medianMs = median(times);
    f.maxMs = times.empty() ? 0 : *std::max_element(times.begin(), times.end());
    f.reportedMs = median(reported);
    f.probes = probes;
    f.ok = allUp && probes > 0;
    return f;
}

}  // namespace

ExporterProbes measureExporterProbes(const BusPaths& paths, int baud, int probes) {
    ExporterProbes result;
    snsim::Emulator direct(timedNodeOptions(baud)), behind(timedNodeOptions(baud));
    sntest::BusDaemonProcess daemon;
    if (!direct.start() || !behind.start() || !daemon.start(paths.snbusd, behind.devicePath()))
        return result;
    sntest::CapturedProcess exporter;
    if (!exporter.start({paths.snctl, "exporter", "--listen", "127.0.0.1:0", "--target",
                         "direct=" + direct.devicePath() + ",baud=" + std::to_string(baud),
                         "--target", "bus=" + daemon.tcpName()}))
        return result;
    const uint16_t port = waitForPort(exporter);
    if (port == 0) return result;
    result.direct = measureTarget(port, "direct", direct, probes);
    result.bus = measureTarget(port, "bus", behind, probes);
    result.lineMs = 1000 * probeLineChars() * charSeconds(baud);
    return result;
}

}  // namespace snbench
