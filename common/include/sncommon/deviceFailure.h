// The two ways a command ends early: a bad command line (exit status 2) or
// a device operation that failed (exit status 1).  main() prints either as
// one line on stderr.
#pragma once

#include <stdexcept>
#include <string>

namespace sncommon {

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Carries what failed and the errno it failed with; the printed line says
// why in words and adds libmodbus's text for that errno.
class DeviceError : public std::runtime_error {
public:
    DeviceError(const std::string& what, int errorNumber);
    int errorNumber() const { return errorNumber_; }

private:
    int errorNumber_;
};

// Throws DeviceError with the current errno when `status` is negative.
void check(int status, const std::string& what);

// "what: why in words (libmodbus's text)" for a failed operation, or only
// "what" when there is no errno; never the number itself.
std::string describeDeviceError(const DeviceError& error);

}  // namespace sncommon
