// "exporter": the Prometheus multi-target pattern.  Prometheus names the
// node in each scrape (/probe?target=NAME); only nodes named on the command
// line are ever opened.
#include "exporterCommand.h"
#include "snline/hostPort.h"

#include "exporter.h"
#include "exporterOptions.h"
#include "failure.h"

#include "sncommon/deviceHolder.h"
#include "sncommon/httpServer.h"
#include "sncommon/stopSignals.h"
#include "snline/deviceLock.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace snctl {

namespace {

std::unique_ptr<sncommon::HttpServer> serve(const std::string& listen, Exporter& exporter) {
    snline::HostPort where;
    snline::parseListenAddress(listen.c_str(), where);  // checked with the options
    try {
        return std::make_unique<sncommon::HttpServer>(
            where,
            [&exporter](const sncommon::HttpRequest& request) { return exporter.handle(request); });
    } catch (const std::runtime_error& error) {
        throw DeviceError(std::string("exporter: ") + error.what(), 0);
    }
}

// A serial target another program holds is refused at start, with who
// holds it: every probe of it would only fail.
void refuseHeldDevices(const ExporterOptions& options) {
    for (const ProbeTarget& target : options.targets) {
        if (snline::isTcpLinkName(target.device.c_str())) continue;
        const int fd = snline::lockDevice(target.device.c_str());
        if (fd >= 0) {
            ::close(fd);
        } else if (errno == EBUSY) {
            throw DeviceError(sncommon::deviceHolderSentence(target.device), 0);
        }
    }
}

void reportReady(const CommandContext& context, const ExporterOptions& options, uint16_t port) {
    snline::HostPort where;
    snline::parseListenAddress(options.listen.c_str(), where);
    const bool v6 = std::strchr(where.host, ':') != nullptr;
    std::string targets;
    for (const ProbeTarget& target : options.targets)
        targets += (targets.empty() ? "" : " ") + target.name;
    Report ready;
    ready.text("listen", (v6 ? "[" : "") + std::string(where.host) + (v6 ? "]:" : ":") +
                             std::to_string(port));
    ready.text("targets", targets);
    context.options.json ? ready.printJson(context.out) : ready.printText(context.out);
}

}  // namespace

void runExporter(const Arguments& args, CommandContext& context) {
    const ExporterOptions options = parseExporterOptions(args);
    refuseHeldDevices(options);
    // Blocked before any thread starts, so that only this one sees them.
    const sncommon::StopSignals signals;
    std::signal(SIGPIPE, SIG_IGN);  // a scraper gone mid-answer
    Exporter exporter(options.targets, context.options.modbusDebug);
    const auto server = serve(options.listen, exporter);
    reportReady(context, options, server->port());
    signals.wait();
}

}  // namespace snctl
