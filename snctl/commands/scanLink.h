// The link a scan asks every address over, with libmodbus itself rather
// than the library: opening a node through the library writes its timeout
// register, and waits 600 ms at every address where nothing answers; a
// scan must write nothing (the bus may hold other devices) and must not
// wait long where nobody is.
#pragma once

#include <modbus.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace snctl {

struct ScanAnswer {
    enum class Kind {
        Identity,  // serial number and software revision
        Silent,    // nothing answered at the address
        Refused,   // something answered with an exception: not a node's identity
        Garbled,   // an answer that did not check out (two devices at one address?)
    };
    Kind kind = Kind::Silent;
    uint16_t serialNumber = 0;
    uint16_t softwareRevision = 0;
    int errorNumber = 0;  // Refused and Garbled: why
};

class ScanLink {
public:
    // `device` a serial device or tcp:HOST:PORT (the bus daemon, which
    // answers for an address with nothing there after its own timeout, so
    // that one is waited for).  Throws DeviceError when it cannot be opened.
    ScanLink(const std::string& device, int baud, std::chrono::milliseconds timeout);
    ~ScanLink();
    ScanLink(const ScanLink&) = delete;
    ScanLink& operator=(const ScanLink&) = delete;

    // Throws DeviceError when the link itself fails.
    ScanAnswer ask(int slave);

private:
    // Silent, Refused or Garbled for a failed ask; DeviceError when the
    // link itself failed.
    ScanAnswer::Kind kindOf(int errorNumber, int slave) const;
    void askDaemonToWait(std::chrono::milliseconds timeout);

    modbus_t* ctx_ = nullptr;
    bool daemon_ = false;
    int lockFd_ = -1;  // holds a serial device's lock while the scan runs
};

}  // namespace snctl
