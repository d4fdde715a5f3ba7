#include "snterm/startup.h"

#include <snLib.h>

#include <modbus.h>
#include <cerrno>

#include "sncommon/daemonHint.h"
#include "sncommon/deviceHolder.h"
#include "snline/hostPort.h"

namespace snterm {

void printBanner(const Settings& settings, std::FILE* out) {
    std::fprintf(out, "Terminal for Modbus port %s  baud %u  slave %u target serial port %d\n",
                 settings.modPort.c_str(), static_cast<unsigned>(settings.modBaud),
                 static_cast<unsigned>(settings.slaveID), settings.targetPort);
}

SensorNode* startNode(const Settings& settings, std::FILE* out) {
    initSensorNodeLib();
    snSetDebug(settings.snDebug);
    SensorNode* node = openSensorNode(settings.modPort.c_str(), settings.modBaud, settings.slaveID);
    if (node == nullptr) {
        const int error = errno;
        std::fprintf(out, "Failure in openSensorNode: errno %d %s\n", error,
                     modbus_strerror(error));
        if (error == EBUSY)
            std::fprintf(out, "%s\n", sncommon::deviceHolderSentence(settings.modPort).c_str());
        if (error == ECONNREFUSED && snline::isTcpLinkName(settings.modPort.c_str()))
            std::fprintf(out, "%s\n", sncommon::nobodyListensSentence(settings.modPort).c_str());
        return nullptr;
    }
    snModbusSetDebug(node, static_cast<int16_t>(settings.modDebug));
    return node;
}

}  // namespace snterm
