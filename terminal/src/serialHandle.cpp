#include "snterm/serialHandle.h"

#include <snLib.h>

#include <modbus.h>
#include <cerrno>
#include <cstdint>

namespace snterm {

namespace {

void reportFailure(std::FILE* out, const char* function) {
    const int error = errno;
    std::fprintf(out, "Failed %s(), errno %d, %s\n", function, error, modbus_strerror(error));
}

}  // namespace

SnSerial* getSerHandle(SensorNode* node, int port, int speed, std::FILE* out) {
    SnSerial* serial = snOpenSerial(node, static_cast<uint16_t>(port));
    if (serial == nullptr) {
        reportFailure(out, "snOpenSerial");
        return nullptr;
    }
    if (snSerInit(serial, speed, 'N', 1) < 0) {
        reportFailure(out, "snSerInit");
        return nullptr;  // the port stays open; the program ends anyway
    }
    std::fprintf(out, "Using serial port %d at %d,N81\n", port, speed);
    return serial;
}

}  // namespace snterm
