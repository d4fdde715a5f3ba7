// snctl: command-line control of a sensor node through snLib.
#include "commands.h"
#include "failure.h"
#include "globalOptions.h"
#include "nodeAccess.h"
#include "report.h"
#include "usage.h"

#include <cstdio>
#include <system_error>

namespace {

constexpr int kDeviceFailure = 1;
constexpr int kUsageFailure = 2;

void printReport(const snctl::Report& report, bool json) {
    if (report.empty()) return;
    if (json) {
        report.printJson(stdout);
    } else {
        report.printText(stdout);
    }
}

// A command that fails part way still shows what it got: bytes taken from
// the node are never dropped by us.
int runCommand(const snctl::GlobalOptions& options) {
    if (options.command.empty()) throw snctl::UsageError("no command given (see snctl --help)");
    const snctl::CommandEntry& entry = snctl::findCommand(options.command.front());
    snctl::NodeAccess access(options);
    snctl::Report report;
    snctl::CommandContext context{options, access, report};
    try {
        entry.run(snctl::Arguments(options.command.begin() + 1, options.command.end()), context);
    } catch (const snctl::DeviceError&) {
        printReport(report, options.json);
        throw;
    }
    printReport(report, options.json);
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    try {
        const snctl::GlobalOptions options = snctl::parseGlobalOptions(argc, argv);
        if (options.help) {
            snctl::printUsage(stdout);
            return 0;
        }
        return runCommand(options);
    } catch (const snctl::UsageError& error) {
        std::fprintf(stderr, "snctl: %s\n", error.what());
        return kUsageFailure;
    } catch (const snctl::DeviceError& error) {
        std::fprintf(stderr, "snctl: %s\n", snctl::describeDeviceError(error).c_str());
        return kDeviceFailure;
    } catch (const std::system_error& error) {
        std::fprintf(stderr, "snctl: %s\n", error.what());
        return kDeviceFailure;
    }
}
