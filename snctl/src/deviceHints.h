// What snctl tells a user who is lost at the device: a tcp: name that is
// not whole, a bus daemon that is not running, a node that is not there.
#pragma once

#include <string>

#include "failure.h"

namespace snctl {

// `device` as given after -p or in a target: a tcp:HOST:PORT name is
// checked here, and one without its port says so.  Throws UsageError,
// prefixed with `what`.
void checkTcpName(const std::string& device, const std::string& what);

bool isTcpName(const std::string& device);

// The failure to open a link to `device` (a node, a scan): a refused TCP
// connection asks whether snbusd runs; a serial line adds its speed.
DeviceError openFailure(const std::string& what, const std::string& device, int baud,
                        int errorNumber);

// A failure where no node answered (directly or behind snbusd): the same
// words both ways, naming the slave, and the device when the user named
// none.  Other failures: describeDeviceError's line.
std::string describeNodeFailure(const DeviceError& error, int slave, const std::string& device,
                                bool deviceGiven);

}  // namespace snctl
