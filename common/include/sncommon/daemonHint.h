// What a program says when a "tcp:" name reaches nothing: the daemon it
// names is most likely not running.  snctl and snterm say it alike.
#pragma once

#include <string>

namespace sncommon {

// "nothing listens at HOST:PORT — is snbusd running?" for "tcp:HOST:PORT".
std::string nobodyListensSentence(const std::string& tcpName);

}  // namespace sncommon
