#include "sncommon/deviceFailure.h"

#include <modbus.h>

#include <cerrno>

#include "snline/modbusErrors.h"

namespace sncommon {

using snline::classifyModbusError;
using snline::ModbusFailure;

namespace {

// Words for the Modbus kinds of failure that need no finer telling.
const char* wordsForKind(int errorNumber) {
    switch (classifyModbusError(errorNumber)) {
        case ModbusFailure::NodeException:
            return "the node refused the request";
        case ModbusFailure::TargetFailed:
            return "no answer from the node behind the bus daemon";
        case ModbusFailure::PathUnavailable:
            return "the bus daemon has lost its serial line";
        default:
            return nullptr;
    }
}

// What a failure means to someone at the node, or null where the library's
// own text says it as well as any words would.
const char* plainWords(int errorNumber) {
    if (const char* words = wordsForKind(errorNumber)) return words;
    switch (errorNumber) {
        case ETIMEDOUT:
            return "no answer from the node";
        case EMBBADCRC:
            return "garbled answer";
        case EMBBADSLAVE:
            return "answer from another slave";
        case EMBBADDATA:
        case EMBBADEXC:
            return "answer the library cannot use";
        case EMBMDATA:
            return "too much data for one request";
        case EMBUNKEXC:
            return "the node refused the request";
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return "no such device";
        case EIO:
        case ENOTTY:
            return "device not usable";
        case EACCES:
        case EPERM:
            return "permission denied";
        case EBUSY:
            return "device busy";
        case EINVAL:
            return "invalid argument";
        default:
            return nullptr;
    }
}

}  // namespace

DeviceError::DeviceError(const std::string& what, int errorNumber)
    : std::runtime_error(what), errorNumber_(errorNumber) {}

void check(int status, const std::string& what) {
    if (status < 0) throw DeviceError(what, errno);
}

std::string describeDeviceError(const DeviceError& error) {
    if (error.errorNumber() == 0) return error.what();
    const std::string what = error.what();
    const char* words = plainWords(error.errorNumber());
    // A libmodbus code newer than this list: its text would only be
    // "Unknown error" and the number.
    if (words == nullptr && error.errorNumber() >= MODBUS_ENOBASE)
        return what + ": unexpected failure in the Modbus library";
    // modbus_strerror covers libmodbus's own codes as well as system ones.
    const std::string text = modbus_strerror(error.errorNumber());
    if (words == nullptr) return what + ": " + text;
    return what + ": " + words + " (" + text + ")";
}

}  // namespace sncommon
