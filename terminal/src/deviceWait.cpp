#include "snterm/deviceWait.h"

#include "sncommon/deviceGone.h"

#include <snLib.h>
#include <sys/select.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace snterm {

namespace {

constexpr unsigned char kCtrlD = 4;

// Waits up to `timeout` for typed input; true when it begins with Ctrl-D.
// Anything else typed meanwhile has no port to go to and is dropped.
bool ctrlDTyped(std::chrono::steady_clock::duration timeout) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(STDIN_FILENO, &readable);
    const auto micro = std::chrono::duration_cast<std::chrono::microseconds>(timeout).count();
    timeval wait{static_cast<time_t>(micro / 1000000), static_cast<suseconds_t>(micro % 1000000)};
    if (select(STDIN_FILENO + 1, &readable, nullptr, nullptr, &wait) <= 0) return false;
    unsigned char typed[256];
    const ssize_t count = read(STDIN_FILENO, typed, sizeof typed);
    // A failed read or the end of input: no keyboard, so no busy loop either.
    if (count <= 0) std::this_thread::sleep_for(timeout);
    return count > 0 && typed[0] == kCtrlD;
}

// The node and its port with the terminal's line, quietly: a device still
// settling fails here for a while.
SnSerial* reopen(SensorNode*& node, const Settings& settings) {
    if (!sncommon::mayReopenDevice(settings.modPort)) return nullptr;
    node = openSensorNode(settings.modPort.c_str(), settings.modBaud, settings.slaveID);
    if (node == nullptr) return nullptr;
    snModbusSetDebug(node, static_cast<int16_t>(settings.modDebug));
    SnSerial* port = snOpenSerial(node, static_cast<uint16_t>(settings.targetPort));
    if (port != nullptr && snSerInit(port, settings.targetBaud, 'N', 1) == 0) return port;
    closeSensorNode(node);
    node = nullptr;
    return nullptr;
}

}  // namespace

SnSerial* waitForDevice(SensorNode*& node, const Settings& settings, std::FILE* out) {
    if (node != nullptr) closeSensorNode(node);
    node = nullptr;
    std::fprintf(out, "%s (Ctrl-D ends)\n", sncommon::deviceGoneSentence(settings.modPort).c_str());
    std::fflush(out);
    for (;;) {
        const auto nextTry = std::chrono::steady_clock::now() + sncommon::kDeviceRetryEvery;
        while (std::chrono::steady_clock::now() < nextTry)
            if (ctrlDTyped(nextTry - std::chrono::steady_clock::now())) return nullptr;
        if (SnSerial* port = reopen(node, settings)) {
            std::fprintf(out, "%s\n", sncommon::deviceBackSentence(settings.modPort).c_str());
            std::fflush(out);
            return port;
        }
    }
}

}  // namespace snterm
