// A serial device that went away under a program (an adapter pulled out)
// and may come back: how a failure tells it, the words every program says
// about it, and when the device found under its name is really it again.
#pragma once

#include <chrono>
#include <string>

namespace sncommon {

// A replugged adapter is back within a second or two; trying more often
// only adds opens of a device still settling.
inline constexpr std::chrono::seconds kDeviceRetryEvery{1};

// The failure means the device itself is gone, not that a node is silent:
// EIO, ENXIO, ENODEV, or the hang-up libmodbus reports as ECONNRESET.
bool isDeviceGoneError(int errorNumber);

// "DEVICE is gone; waiting for it to come back"
std::string deviceGoneSentence(const std::string& device);
// "DEVICE is back"
std::string deviceBackSentence(const std::string& device);

// Whether the device now under `device` may be opened as the one that went:
// a pty's number can come back as someone's terminal, which is never a
// Modbus line.
bool mayReopenDevice(const std::string& device);

}  // namespace sncommon
