#include "comName.h"

#include "failure.h"

#include <strings.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace snctl {

namespace {

constexpr std::size_t kComNameSize = 16;  // same limit as snterm's buffer

}  // namespace

std::string translateDeviceName(const std::string& name)
{
    if (name.size() < 3 || strncasecmp(name.c_str(), "COM", 3) != 0) return name;
    const char* digits = name.c_str() + 3;
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(digits, &end, 10);
    // As snterm reads it: blanks and a sign before the number are accepted,
    // text after it ignored, and "COMX" is just a device name.
    if (end == digits) return name;
    if (errno == ERANGE || number < 1 || number > INT_MAX) {
        throw UsageError("device " + name + " names no serial port (COM1 and up)");
    }
    char device[kComNameSize];
    const int length = std::snprintf(device, sizeof device, "/dev/ttyS%ld", number - 1);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof device) {
        throw UsageError("device " + name + " names no serial port (COM number too large)");
    }
    return device;
}

}  // namespace snctl
