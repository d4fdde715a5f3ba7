#include "deviceHints.h"

#include "sncommon/daemonHint.h"
#include "snline/hostPort.h"
#include "snline/modbusErrors.h"

#include <cerrno>
#include <cstring>

namespace snctl {

namespace {

constexpr char kTcpPrefix[] = "tcp:";
constexpr std::size_t kTcpPrefixLength = sizeof kTcpPrefix - 1;

// "localhost", "[::1]" and "localhost:" lack a port; "::1" is taken for an
// unbracketed IPv6 address instead, which parseHostPort names as not whole.
bool portMissing(const std::string& address) {
    if (!address.empty() && address.back() == ':') return true;
    if (address.rfind('[', 0) == 0) return address.find("]:") == std::string::npos;
    return address.find(':') == std::string::npos;
}

}  // namespace

bool isTcpName(const std::string& device) { return device.rfind(kTcpPrefix, 0) == 0; }

void checkTcpName(const std::string& device, const std::string& what) {
    if (!isTcpName(device)) return;
    const std::string address = device.substr(kTcpPrefixLength);
    snline::HostPort parsed;
    if (snline::parseHostPort(address.c_str(), parsed)) return;
    if (portMissing(address)) {
        throw UsageError(what + device + ": the port is missing (tcp:HOST:PORT, as in " +
                         "tcp:127.0.0.1:1502)");
    }
    throw UsageError(what + device + " is not tcp:HOST:PORT (an IPv6 host in brackets, a port " +
                     "from 1 to 65535)");
}

DeviceError openFailure(const std::string& what, const std::string& device, int baud,
                        int errorNumber) {
    if (!isTcpName(device))
        return DeviceError(what + " at " + std::to_string(baud) + " bit/s", errorNumber);
    if (errorNumber == ECONNREFUSED) {
        // Sentences of their own: libmodbus's "Connection refused" adds nothing.
        return DeviceError(sncommon::nobodyListensSentence(device), 0);
    }
    return DeviceError(what, errorNumber);
}

std::string describeNodeFailure(const DeviceError& error, int slave, const std::string& device,
                                bool deviceGiven) {
    const snline::ModbusFailure kind = snline::classifyModbusError(error.errorNumber());
    if (error.errorNumber() == 0 ||
        (kind != snline::ModbusFailure::NoAnswer && kind != snline::ModbusFailure::TargetFailed))
        return describeDeviceError(error);
    if (!deviceGiven) {
        return "no answer from a node at slave " + std::to_string(slave) + " on " + device +
               " (the default device; -p names another)";
    }
    return std::string(error.what()) + ": no node answers at slave " + std::to_string(slave);
}

}  // namespace snctl
