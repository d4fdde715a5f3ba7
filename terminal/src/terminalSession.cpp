#include "snterm/terminalSession.h"

#include "snterm/consoleGuard.h"
#include "snterm/relayLoop.h"
#include "snterm/serialHandle.h"

#include <modbus.h>
#include <cerrno>
#include <cstdio>

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

    const RelayEnd end = relayLoop(port, settings.targetBaud);
    const int error = errno;
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
