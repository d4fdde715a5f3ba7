#include "usage.h"

#include "commands.h"

namespace snctl {

void printUsage(std::FILE* out) {
    std::fputs(
        "usage: snctl [OPTIONS] COMMAND [ARGS...]\n"
        "Controls a sensor node over Modbus RTU.\n\n"
        "Options (before the command):\n"
        "  -p, --port DEVICE      serial device; COMn means /dev/ttyS(n-1) (default /dev/ttyS0)\n"
        "  -m, --modbus-baud N    Modbus line speed (default 115200)\n"
        "  -a, --slave N          slave address 1-247 (default 1)\n"
        "  -d, --debug N          debug bits: 1 library trace, 2 libmodbus frames\n"
        "      --json             print the result as one JSON object\n"
        "  -h, --help             print this help\n"
        "      --version          print the version\n\n"
        "Commands:\n",
        out);
    for (const CommandEntry& entry : commandTable()) {
        std::fprintf(out, "  %s%s%s\n      %s\n", entry.name, *entry.synopsis != 0 ? " " : "",
                     entry.synopsis, entry.summary);
    }
    std::fputs("\nExit status: 0 success, 1 the device operation failed, 2 bad command line.\n",
               out);
}

}  // namespace snctl
