// snweb's command line.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "sncommon/longOptions.h"
#include "sncommon/nodeTarget.h"

namespace snweb {

// Loopback, so that only this machine reaches the pages unless told.
inline constexpr const char* kDefaultListen = "127.0.0.1:9741";
inline constexpr double kDefaultRate = 2.0;
inline constexpr double kLowestRate = 0.2;
inline constexpr double kHighestRate = 10.0;

struct WebOptions {
    std::string listenHost = "127.0.0.1";
    int listenPort = 9741;  // 0: the system picks one
    std::vector<sncommon::NodeTarget> targets;
    double rate = kDefaultRate;  // analog readings a second
    bool readOnly = false;
    std::string tokenFile;
    std::vector<std::string> allowedHosts;
    bool help = false;
    bool version = false;
};

using OptionError = sncommon::OptionError;

const char* usageText();

// Throws OptionError naming what was expected.
WebOptions parseWebOptions(const std::vector<std::string>& args);

}  // namespace snweb
