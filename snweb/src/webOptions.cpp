#include "webOptions.h"

#include "snLimits.h"
#include "snline/hostPort.h"

#include <cstdlib>

namespace snweb {

namespace {

void setListen(WebOptions& options, const std::string& value) {
    snline::HostPort where;
    const std::string text = value.find(':') == std::string::npos && !value.empty() &&
                                     value.find_first_not_of("0123456789") == std::string::npos
                                 ? "127.0.0.1:" + value
                                 : value;
    if (!snline::parseListenAddress(text.c_str(), where))
        throw OptionError("--listen needs [HOST:]PORT (port 0 to 65535), not '" + value + "'");
    options.listenHost = where.host;
    options.listenPort = std::atoi(where.port);
}

void setRate(WebOptions& options, const std::string& value) {
    char* end = nullptr;
    const double rate = std::strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0' || !(rate >= kLowestRate && rate <= kHighestRate))
        throw OptionError("--rate needs readings a second from 0.2 to 10, not '" + value + "'");
    options.rate = rate;
}

void addTarget(WebOptions& options, const std::string& value) {
    try {
        sncommon::addNodeTarget(options.targets, value, SN_MAX_NODES);
    } catch (const sncommon::TargetError& error) {
        throw OptionError(error.what());
    }
}

void addAllowedHost(WebOptions& options, const std::string& value) {
    if (value.empty() || value.size() > 253 ||
        value.find_first_of(" \t\r\n:/,") != std::string::npos)
        throw OptionError("--allow-host needs a host name without a port, not '" + value + "'");
    options.allowedHosts.push_back(value);
}

void apply(WebOptions& options, const std::string& name, const std::string& value) {
    if (name == "--listen") {
        setListen(options, value);
    } else if (name == "--target") {
        addTarget(options, value);
    } else if (name == "--rate") {
        setRate(options, value);
    } else if (name == "--token-file") {
        if (value.empty()) throw OptionError("--token-file needs a file");
        options.tokenFile = value;
    } else if (name == "--allow-host") {
        addAllowedHost(options, value);
    } else {
        throw OptionError("unknown option '" + name + "' (see snweb --help)");
    }
}

}  // namespace

const char* usageText() {
    return "usage: snweb [--listen [HOST:]PORT] --target NAME=DEVICE[,slave=N][,baud=B]...\n"
           "             [--rate HZ] [--read-only] [--token-file FILE] [--allow-host NAME]...\n"
           "  The nodes in a browser: status, live plots of the analog inputs, power\n"
           "  switches, and a terminal on each virtual port with its line controls.\n"
           "  --listen     address of the pages (default 127.0.0.1:9741, loopback only)\n"
           "  --target     a node by name: a serial DEVICE or tcp:HOST:PORT through snbusd\n"
           "  --rate       analog readings a second, 0.2 to 10 (default 2)\n"
           "  --read-only  the pages look but change nothing and type nothing\n"
           "  --token-file the access token from FILE (default: a new random one)\n"
           "  --allow-host another name the pages are reached by (behind a proxy)\n"
           "  Prints the URL to open, token included, then serves until SIGINT/SIGTERM.\n";
}

WebOptions parseWebOptions(const std::vector<std::string>& args) {
    WebOptions options;
    const auto flag = [&](const std::string& arg) {
        if (arg == "--help" || arg == "-h") return options.help = true;
        if (arg == "--version") return options.version = true;
        if (arg == "--read-only") return options.readOnly = true;
        return false;
    };
    sncommon::walkLongOptions(
        args, "snweb", flag,
        [&](const std::string& name, const std::string& value) { apply(options, name, value); });
    if (options.targets.empty() && !options.help && !options.version)
        throw OptionError("at least one --target NAME=DEVICE is needed (see snweb --help)");
    return options;
}

}  // namespace snweb
