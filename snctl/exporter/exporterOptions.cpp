#include "exporterOptions.h"

#include "failure.h"
#include "namedOptions.h"
#include "snLimits.h"
#include "snline/hostPort.h"

namespace snctl {

namespace {

const char* const kUsage =
    "exporter [--listen HOST:PORT] --target NAME=DEVICE[,slave=N][,baud=B]...";

// The shared parser's sentence, said by this command.
template <typename Parse>
auto asUsage(Parse parse) {
    try {
        return parse();
    } catch (const sncommon::TargetError& error) {
        throw UsageError(std::string("exporter: ") + error.what());
    }
}

void applyOption(ExporterOptions& options, const std::string& name, const std::string& value) {
    if (name == "--listen") {
        snline::HostPort where;
        if (!snline::parseListenAddress(value.c_str(), where))
            throw UsageError("exporter: --listen needs HOST:PORT (port 0 to 65535), not '" + value +
                             "'");
        options.listen = value;
    } else if (name == "--target") {
        const ProbeTarget target = parseProbeTarget(value);
        asUsage([&] {
            sncommon::checkDistinctTarget(options.targets, target, SN_MAX_NODES);
            return 0;
        });
        options.targets.push_back(target);
    } else {
        throw UsageError("exporter: unknown option '" + name + "' (expected " + kUsage + ")");
    }
}

}  // namespace

ProbeTarget parseProbeTarget(const std::string& text) {
    return asUsage([&] { return sncommon::parseNodeTarget(text); });
}

ExporterOptions parseExporterOptions(const std::vector<std::string>& args) {
    ExporterOptions options;
    options.listen = kDefaultExporterListen;
    for (const NamedOption& option : namedOptions(args, "exporter", kUsage))
        applyOption(options, option.name, option.value);
    if (options.targets.empty())
        throw UsageError(std::string("exporter: at least one --target is needed (") + kUsage + ")");
    return options;
}

}  // namespace snctl
