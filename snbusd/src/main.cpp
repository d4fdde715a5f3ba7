// snbusd: the one owner of a serial Modbus RTU line, shared by every tool
// over Modbus TCP.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>

#include "bus.h"
#include "eventLog.h"
#include "lineWorker.h"
#include "metrics.h"
#include "options.h"
#include "server.h"
#include "snVersion.h"
#include "sncommon/deviceHolder.h"
#include "sncommon/httpServer.h"
#include "sncommon/prometheusText.h"
#include "sncommon/stopSignals.h"

namespace {

constexpr int kRunFailure = 1;
constexpr int kUsageFailure = 2;
// How long the line waits for a client just answered (see bus.h): a
// loopback round trip and the client's own turnaround, measured enough on a
// loaded machine where 250 us was not; and only before a transaction long
// enough that such a wait is a sliver of it (a block is 23 ms at 115200).
constexpr std::chrono::microseconds kAnsweredClientHold(500);
constexpr std::chrono::microseconds kLongTransaction(4000);

sncommon::HttpResponse metricsPage(const sncommon::HttpRequest& request,
                                   const snbusd::Metrics& metrics) {
    if (request.path != "/metrics") return {404, "text/plain; charset=utf-8", "not found\n"};
    return {200, sncommon::kPrometheusContentType, metrics.render()};
}

std::unique_ptr<sncommon::HttpServer> serveMetrics(const snbusd::Options& options,
                                                   const snbusd::Metrics& metrics,
                                                   snbusd::EventLog& log) {
    if (options.metrics.empty()) return nullptr;
    snline::HostPort where;
    snline::parseListenAddress(options.metrics.c_str(), where);  // checked with the options
    auto server = std::make_unique<sncommon::HttpServer>(
        where,
        [&metrics](const sncommon::HttpRequest& request) { return metricsPage(request, metrics); });
    const std::string host = std::strchr(where.host, ':') ? "[" + std::string(where.host) + "]"
                                                          : std::string(where.host);
    log.event("metrics on http://" + host + ":" + std::to_string(server->port()) + "/metrics");
    return server;
}

// The device is opened (and locked) before anything listens: a typo or a
// device another program holds is an error at once, unless the unit asks
// to wait for the device.
bool openTheLine(snbusd::SerialLine& line, const snbusd::Options& options, snbusd::EventLog& log) {
    if (line.open()) return true;
    const int failure = errno;
    const std::string why = failure == EBUSY
                                ? sncommon::deviceHolderSentence(options.device)
                                : "cannot open " + options.device + ": " + std::strerror(failure);
    if (!options.waitForDevice) {
        std::fprintf(stderr, "snbusd: %s\n", why.c_str());
        return false;
    }
    log.event(why + "; waiting for the device");
    return true;
}

int serve(const snbusd::Options& options) {
    // Blocked before any thread starts, so that only the network loop sees them.
    const sncommon::StopSignals signals({SIGINT, SIGTERM});
    std::signal(SIGPIPE, SIG_IGN);
    snbusd::EventLog log(options.verbose);
    snbusd::SerialLine line(options.device, options.baud, options.timeout);
    if (!openTheLine(line, options, log)) return kRunFailure;
    snbusd::Metrics metrics;
    snbusd::Bus bus(options.baud, kAnsweredClientHold, kLongTransaction);
    // The Modbus listeners open before the metrics page: a program refused
    // the device names the lowest-numbered listener as the way in.
    snbusd::Server server(options, bus, metrics, log);
    const auto metricsServer = serveMetrics(options, metrics, log);
    const snbusd::Policy policy{options.readOnly, options.units};
    snbusd::LineWorker worker(line, bus, policy, metrics, log);
    log.event("serving " + options.device + " at " + std::to_string(options.baud) + " bit/s");
    std::thread lineThread([&worker] { worker.run(); });
    server.run(signals);
    bus.stop();
    lineThread.join();  // the transaction on the line is finished first
    server.closeAll();
    log.event("stopped");
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    snbusd::Options options;
    try {
        options = snbusd::parseOptions(argc, argv);
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "snbusd: %s\n", error.what());
        return kUsageFailure;
    }
    if (options.version) {
        std::printf("snbusd (snLib) %s\n", SN_VERSION);
        return 0;
    }
    if (options.help) {
        std::fputs(snbusd::usage(), stdout);
        return 0;
    }
    try {
        return serve(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "snbusd: %s\n", error.what());
        return kRunFailure;
    }
}
