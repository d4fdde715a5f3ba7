// Options that come before the command: which node, how to reach it, and
// how to print.  Same letters and defaults as snterm.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace snctl {

struct GlobalOptions {
    std::string device = "/dev/ttyS0";
    bool deviceGiven = false;  // -p was given: no need to say which device was tried
    int modbusBaud = 115200;
    int slave = 1;
    bool libraryTrace = false;  // -d bit 0
    bool modbusDebug = false;   // -d bit 1
    bool json = false;
    bool help = false;
    bool version = false;
    std::vector<std::string> command;  // the command word and its arguments
};

// Parses argv up to the command word (getopt "+": the command's own
// arguments may start with '-').  Throws UsageError for anything it cannot
// take.  Resets getopt's state first, so it may be called again.
GlobalOptions parseGlobalOptions(int argc, char* argv[]);

// A Modbus line speed the serial driver can set (SN_LINE_SPEEDS); anything
// else throws UsageError naming `what` and the speeds there are.
int parseModbusSpeed(std::string_view text, const std::string& what);

}  // namespace snctl
