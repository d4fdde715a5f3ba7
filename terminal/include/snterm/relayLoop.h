// The terminal's relay between the console and a virtual port.
#pragma once

struct SnSerial;

namespace snterm {

enum class RelayEnd {
    UserExit,    // Ctrl-D typed as the first byte of a read
    DeviceLost,  // the Modbus device itself went away; errno tells why
};

// Relays bytes until Ctrl-D or until the Modbus device is gone: typed bytes
// (descriptor 0) go to the port, no faster than its line of `targetBaud`
// drains them; bytes the port received go to descriptor 1, in 20-byte reads
// when idle (a pass every 20 ms) and in whole blocks, pass after pass, while
// a stream flows.  At end of input it keeps polling the port every 20 ms.
// A node reached through the bus daemon ("tcp:" device name) is lost only
// after connection errors for 5 s in a row, so a daemon restart is survived.
RelayEnd relayLoop(SnSerial* port, int targetBaud);

// True for errno values meaning the serial device itself is unusable
// (as opposed to a node that merely did not answer).
bool isDeviceGone(int errorNumber);

}  // namespace snterm
