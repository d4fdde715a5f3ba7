#include "snterm/terminalSession.h"

#include "snterm/consoleGuard.h"
#include "snterm/deviceWait.h"
#include "snterm/relayLoop.h"
#include "snterm/serialHandle.h"

#include <modbus.h>
#include <cerrno>
#include <cstdio>

#include "snline/hostPort.h"

namespace snterm {

int runTerminal(SensorNode* node, const Settings& settings) {
    rawMode();
    SnSerial* port = getSerHandle(node, settings.targetPort, settings.targetBaud, stdout);
    if (port == nullptr) {
        std::fflush(stdout);
        restoreConsole();
        return 1;
    }
    std::fflush(stdout);  // relayed bytes bypass stdio

    RelayEnd end = relayLoop(port, settings.targetBaud);
    int error = errno;
    // A serial device that went away is waited for; a node through the
    // daemon has had its grace already.
    while (end == RelayEnd::DeviceLost && !snline::isTcpLinkName(settings.modPort.c_str())) {
        port = waitForDevice(node, settings, stdout);
        if (port == nullptr) {
            end = RelayEnd::UserExit;
            break;
        }
        end = relayLoop(port, settings.targetBaud);
        error = errno;
    }
    if (end == RelayEnd::UserExit) {
        std::printf("Normal exit\n");
    } else {
        std::printf("Modbus device lost: errno %d %s\n", error, modbus_strerror(error));
    }
    std::fflush(stdout);
    restoreConsole();
    return end == RelayEnd::UserExit ? 0 : 1;
}

}  // namespace snterm
