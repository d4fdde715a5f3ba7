// The node named by the global options, opened on first use so that a
// command checks its arguments before any traffic, and closed at the end.
#pragma once

#include "globalOptions.h"

#include "snLib.h"

#include <cstdint>

namespace snctl {

class NodeAccess {
public:
    explicit NodeAccess(const GlobalOptions& options);
    ~NodeAccess();  // closes the node without traffic; ports stay as set
    NodeAccess(const NodeAccess&) = delete;
    NodeAccess& operator=(const NodeAccess&) = delete;

    // Throws DeviceError when the device cannot be opened.
    SensorNode* node();
    // Opens virtual port `port` (switching its transmit enable on).
    SnSerial* port(uint16_t port);
    // Closes a port opened by port() (switching its transmit enable off).
    void closePort(SnSerial* port);
    // Lets go of a node whose device went away, without traffic: its port
    // handles die with it, and the next node() opens the device anew.
    void release();

private:
    const GlobalOptions& options_;
    SensorNode* node_ = nullptr;
};

}  // namespace snctl
