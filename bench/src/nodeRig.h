// One emulated node that takes everything, with the library's node and
// virtual port 0 opened on it: the stage of the library scenarios.
#pragma once

#include "snLib.h"
#include "snsim/emulator.h"

#include <string>

namespace snbench {

class NodeRig {
public:
    NodeRig();
    ~NodeRig();
    NodeRig(const NodeRig&) = delete;
    NodeRig& operator=(const NodeRig&) = delete;

    // Starts the emulator and opens node and port; false with a message.
    bool start();
    // Opens node and port again through `name` (a tcp: name, say).
    bool openNode(const std::string& name);
    // Line timing at `baud`, or none when baud is 0.
    void setLineSpeed(int baud);

    snsim::Emulator& sim() { return sim_; }
    SnSerial* port() { return port_; }
    std::string device() const { return sim_.devicePath(); }

    // Empties the node's transmit side and the line tap, so the next
    // write's output can be compared with what was written.
    void clearTransmitSide();

private:
    snsim::Emulator sim_;
    SensorNode* node_ = nullptr;
    SnSerial* port_ = nullptr;
};

// A node with Modbus line timing at `baud`, FIFOs far larger than any run
// and nothing on its ports: the stage of the terminal and bus scenarios.
snsim::Options timedNodeOptions(int baud);

// Port 0 of the rig's node, and the node's address.
inline constexpr int kPort = 0;
inline constexpr int kSlave = 1;

}  // namespace snbench
