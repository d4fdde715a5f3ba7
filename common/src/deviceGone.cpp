#include "sncommon/deviceGone.h"

#include <cerrno>

#include "sncommon/sessionTerminal.h"

namespace sncommon {

bool isDeviceGoneError(int errorNumber) {
    return errorNumber == EIO || errorNumber == ENXIO || errorNumber == ENODEV ||
           errorNumber == ECONNRESET;
}

std::string deviceGoneSentence(const std::string& device) {
    return device + " is gone; waiting for it to come back";
}

std::string deviceBackSentence(const std::string& device) { return device + " is back"; }

bool mayReopenDevice(const std::string& device) { return !isSessionTerminal(device); }

}  // namespace sncommon
