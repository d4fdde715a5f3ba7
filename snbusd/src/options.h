// snbusd's command line, parsed into a plain struct (no device needed).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace snbusd {

struct Options {
    std::string device;                      // -p, COM names translated
    int baud = 115200;                       // -m
    std::vector<std::string> listen;         // --listen HOST:PORT..., default loopback
    std::string metrics;                     // --metrics HOST:PORT, empty: none
    bool readOnly = false;                   // --read-only
    std::vector<bool> units;                 // --units: allowed slave addresses, empty: all
    int maxClients = 32;                     // --max-clients
    std::chrono::seconds idleTimeout{300};   // --idle-timeout
    std::chrono::milliseconds timeout{600};  // --timeout: response timeout on the line
    bool waitForDevice = false;              // --wait-for-device: absent or held at start
    bool verbose = false;                    // -v: a line per transaction
    bool help = false;                       // -h
    bool version = false;                    // --version
};

inline constexpr const char* kDefaultListen = "127.0.0.1:1502";

// Parses argv; throws std::invalid_argument with one line naming what is
// wrong.  Resets getopt's state first, so it may be called again.
Options parseOptions(int argc, char* argv[]);

// "1,3-5" into a 248-entry table of allowed addresses (1 to 247).
std::vector<bool> parseUnits(const std::string& list);

const char* usage();

}  // namespace snbusd
