#include "sncommon/daemonHint.h"

#include "snline/hostPort.h"

#include <cstring>

namespace sncommon {

std::string nobodyListensSentence(const std::string& tcpName) {
    const std::size_t prefix = std::strlen(snline::kTcpLinkPrefix);
    const std::string address =
        tcpName.rfind(snline::kTcpLinkPrefix, 0) == 0 ? tcpName.substr(prefix) : tcpName;
    return "nothing listens at " + address + " \u2014 is snbusd running?";
}

}  // namespace sncommon
