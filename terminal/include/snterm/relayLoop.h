// The terminal's relay between the console and a virtual port.
#pragma once

struct SnSerial;

namespace snterm {

enum class RelayEnd {
    UserExit,    // Ctrl-D typed as the first byte of a read
    DeviceLost,  // the Modbus device itself went away; errno tells why
};

// Relays bytes until Ctrl-D or until the Modbus device is gone: typed bytes
// (descriptor 0) go to the port, bytes the port received go to descriptor 1.
// At end of input it keeps polling the port every 20 ms.
RelayEnd relayLoop(SnSerial* port);

// True for errno values meaning the serial device itself is unusable
// (as opposed to a node that merely did not answer).
bool isDeviceGone(int errorNumber);

}  // namespace snterm
