// Command-line settings of snterm and their parsing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace snterm {

struct Settings {
    int slaveID = 1;
    int modBaud = 115200;
    int targetBaud = 9600;
    std::string modPort = "/dev/ttyS0";
    int targetPort = 0;
    int16_t snDebug = 0;  // library trace lines
    int modDebug = 0;     // libmodbus protocol dump
};

// What the program does after parsing: go on, or end at once with a status.
struct ParseResult {
    bool proceed = true;
    int exitStatus = 0;  // meaningful when !proceed
};

// Parses argv with getopt ("a:b:d:hm:p:t:"), writing every message of its
// own to `out`; unknown options are reported by getopt on stderr.  Never
// exits.  Resets getopt's global state first, so it may be called again.
// getopt may permute argv, hence the non-const pointers.
ParseResult parseOptions(int argc, char* argv[], Settings& settings, std::FILE* out);

void printUsage(std::FILE* out, const char* programName);

// atoi that cannot overflow: leading blanks and a sign are accepted, text
// that is not a number is 0, values beyond int saturate at INT_MIN/INT_MAX.
int parseNumber(const char* text);

}  // namespace snterm
