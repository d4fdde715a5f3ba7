#include "usage.h"

#include "commands.h"
#include "failure.h"

#include <algorithm>

namespace snctl {

namespace {

bool isHelpWord(const std::string& word) { return word == "-h" || word == "--help"; }

void printEntry(std::FILE* out, const CommandEntry& entry) {
    std::fprintf(out, "  %s%s%s\n      %s\n", entry.name, *entry.synopsis != 0 ? " " : "",
                 entry.synopsis, entry.summary);
}

}  // namespace

void printUsage(std::FILE* out) {
    std::fputs(
        "usage: snctl [OPTIONS] COMMAND [ARGS...]\n"
        "Controls a sensor node over Modbus RTU, directly or through snbusd.\n\n"
        "Options (before the command):\n"
        "  -p, --port DEVICE      serial device; COMn means /dev/ttyS(n-1) (default /dev/ttyS0);\n"
        "                         tcp:HOST:PORT reaches the node through snbusd\n"
        "  -m, --modbus-baud N    Modbus line speed (default 115200)\n"
        "  -a, --slave N          slave address 1-247 (default 1)\n"
        "  -d, --debug N          debug bits: 1 library trace, 2 libmodbus frames\n"
        "      --json             print the result as one JSON object\n"
        "  -h, --help             print this help\n"
        "      --version          print the version\n\n"
        "Commands (snctl help COMMAND, or COMMAND --help, shows one):\n",
        out);
    for (const CommandEntry& entry : commandTable()) printEntry(out, entry);
    std::fputs("\nExit status: 0 success, 1 the device operation failed, 2 bad command line.\n",
               out);
}

// A command with several forms (port) shows them all.
void printCommandUsage(std::FILE* out, const std::string& name) {
    const CommandEntry& first = findCommand(name);
    std::fprintf(out, "usage: snctl [OPTIONS] %s%s%s\n", first.name,
                 *first.synopsis != 0 ? " " : "", first.synopsis);
    for (const CommandEntry& entry : commandTable()) {
        if (name == entry.name && &entry != &first)
            std::fprintf(out, "       snctl [OPTIONS] %s %s\n", entry.name, entry.synopsis);
    }
    std::fputc('\n', out);
    for (const CommandEntry& entry : commandTable()) {
        if (name == entry.name) printEntry(out, entry);
    }
    if (*first.details != 0) std::fprintf(out, "\n%s", first.details);
    std::fputs("\nOptions before the command (-p, -a, -m, -d, --json): snctl --help.\n", out);
}

bool asksForHelp(const std::vector<std::string>& command) {
    if (command.empty()) return false;
    if (command.front() == "help") return true;
    // "port P send TEXT": the text is sent as it is, even "--help".
    const bool sendsText = command.front() == "port" && command.size() > 3 && command[2] == "send";
    const auto end = sendsText ? command.begin() + 3 : command.end();
    return std::any_of(command.begin() + 1, end, isHelpWord);
}

void printHelpFor(std::FILE* out, const std::vector<std::string>& command) {
    if (command.front() != "help") {
        printCommandUsage(out, command.front());
    } else if (command.size() == 1) {
        printUsage(out);
    } else if (command.size() == 2) {
        printCommandUsage(out, command[1]);
    } else {
        throw UsageError("help: expected at most one command (help COMMAND)");
    }
}

}  // namespace snctl
