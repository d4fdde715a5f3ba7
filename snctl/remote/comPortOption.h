// The serial port server's answers to a client's COM-PORT-OPTION commands,
// without any I/O: each command gets its answer (the command + 100) with
// the value in effect at once, and what the node's port has to do is
// collected for the caller to pass on in order with the client's data.
#pragma once

#include "relayNames.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace snctl {

namespace comport {
inline constexpr uint8_t kSignature = 0, kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3,
                         kSetStopSize = 4, kSetControl = 5, kNotifyLineState = 6,
                         kNotifyModemState = 7, kFlowSuspend = 8, kFlowResume = 9,
                         kSetLineStateMask = 10, kSetModemStateMask = 11, kPurgeData = 12;
inline constexpr uint8_t kAnswerOffset = 100;
}  // namespace comport

struct ComPortAnswer {
    uint8_t command = 0;  // already + 100
    std::vector<uint8_t> value;
};

class ComPortOption {
public:
    // `line` is the port's line when the client came.
    explicit ComPortOption(const PortLine& line) : original_(line), requested_(line) {}

    // One command: its answer, and any node actions it calls for appended
    // to `actions`.  A line change only records the new line; takeLine()
    // hands it over once per burst.
    ComPortAnswer command(uint8_t command, const uint8_t* value, std::size_t length,
                          std::vector<NodeAction>& actions);
    // The line the client asked for, once it differs from the last one
    // handed over.
    std::optional<PortLine> takeLine();
    // What the port needs when the client leaves: its line as it was, and
    // no break left on.
    std::vector<NodeAction> restore() const;

    // The modem state to report after agreement: a port without modem lines
    // reports CTS, DSR and carrier on, filtered by the client's mask.
    uint8_t modemState() const;
    // The error flags of the port (overrun, parity, framing, break in the
    // bits a line state uses) as the client asked to hear them; 0: nothing.
    uint8_t lineState(uint16_t errorFlags) const {
        return static_cast<uint8_t>(errorFlags) & lineMask_;
    }
    bool wantsLineState() const { return lineMask_ != 0; }
    bool suspended() const { return suspended_; }

private:
    ComPortAnswer baudRate(const uint8_t* value, std::size_t length);
    uint8_t parity(uint8_t asked);
    uint8_t stopSize(uint8_t asked);
    uint8_t control(uint8_t asked, std::vector<NodeAction>& actions);
    uint8_t purge(uint8_t asked, std::vector<NodeAction>& actions);

    PortLine original_;
    PortLine requested_;  // what the client set, in effect for its answers
    PortLine handedOver_ = original_;
    bool breakOn_ = false;
    bool dtr_ = true, rts_ = true;  // kept and echoed: the node has no such lines
    uint8_t lineMask_ = 0;
    uint8_t modemMask_ = 0xFF;
    bool suspended_ = false;
};

}  // namespace snctl
