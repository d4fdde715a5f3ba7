// snctl: command-line control of a sensor node through snLib.
#include "commands.h"
#include "deviceHints.h"
#include "failure.h"
#include "globalOptions.h"
#include "nodeAccess.h"
#include "report.h"
#include "snVersion.h"
#include "usage.h"

#include <unistd.h>

#include <cstdio>
#include <string>
#include <system_error>

namespace {

constexpr int kDeviceFailure = 1;
constexpr int kUsageFailure = 2;

void printReport(const snctl::Report& report, bool json, std::FILE* out) {
    if (report.empty()) return;
    if (json) {
        report.printJson(out);
    } else {
        report.printText(out);
    }
}

// With --json, standard output carries JSON only: the debug output the
// library and libmodbus print there goes to standard error instead, and the
// results to a copy of the original standard output.
std::FILE* resultStream(const snctl::GlobalOptions& options) {
    if (!options.json || !(options.libraryTrace || options.modbusDebug)) return stdout;
    std::fflush(stdout);
    const int results = dup(STDOUT_FILENO);
    std::FILE* out = results < 0 ? nullptr : fdopen(results, "w");
    if (out == nullptr) return stdout;
    dup2(STDERR_FILENO, STDOUT_FILENO);
    return out;
}

// A command that fails part way still shows what it got: bytes taken from
// the node are never dropped by us.
int runCommand(const snctl::GlobalOptions& options) {
    if (options.command.empty()) throw snctl::UsageError("no command given (see snctl --help)");
    if (snctl::asksForHelp(options.command)) {
        snctl::printHelpFor(stdout, options.command);
        return 0;
    }
    const snctl::CommandEntry& entry = snctl::findCommand(options.command.front());
    std::FILE* out = resultStream(options);
    snctl::NodeAccess access(options);
    snctl::Report report;
    snctl::CommandContext context{options, access, report, out};
    try {
        entry.run(snctl::Arguments(options.command.begin() + 1, options.command.end()), context);
    } catch (const snctl::DeviceError&) {
        printReport(report, options.json, out);
        throw;
    }
    printReport(report, options.json, out);
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    snctl::GlobalOptions options;
    try {
        options = snctl::parseGlobalOptions(argc, argv);
        if (options.version) {
            std::printf("snctl (snLib) %s\n", SN_VERSION);
            return 0;
        }
        if (options.help) {
            snctl::printUsage(stdout);
            return 0;
        }
        return runCommand(options);
    } catch (const snctl::UsageError& error) {
        std::fprintf(stderr, "snctl: %s\n", error.what());
        return kUsageFailure;
    } catch (const snctl::DeviceError& error) {
        const std::string line =
            snctl::describeNodeFailure(error, options.slave, options.device, options.deviceGiven);
        std::fprintf(stderr, "snctl: %s\n", line.c_str());
        return kDeviceFailure;
    } catch (const std::system_error& error) {
        std::fprintf(stderr, "snctl: %s\n", error.what());
        return kDeviceFailure;
    }
}
