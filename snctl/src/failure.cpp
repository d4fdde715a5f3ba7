#include "failure.h"

#include <modbus.h>

#include <cerrno>

namespace snctl {

DeviceError::DeviceError(const std::string& what, int errorNumber)
    : std::runtime_error(what), errorNumber_(errorNumber) {}

void check(int status, const std::string& what) {
    if (status < 0) throw DeviceError(what, errno);
}

std::string describeDeviceError(const DeviceError& error) {
    if (error.errorNumber() == 0) return error.what();
    // modbus_strerror covers libmodbus's own codes as well as system ones.
    return std::string(error.what()) + ": errno " + std::to_string(error.errorNumber()) + ": " +
           modbus_strerror(error.errorNumber());
}

}  // namespace snctl
