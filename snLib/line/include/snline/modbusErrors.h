// What a failed Modbus call's errno means, in the few kinds the programs
// act on.
#pragma once

namespace snline {

enum class ModbusFailure {
    NoAnswer,         // nothing within the response timeout
    Garbled,          // bad CRC, another slave, an answer of the wrong shape
    NodeException,    // the node refused the request with an exception
    TargetFailed,     // a gateway's 0x0B: the node behind it did not answer
    PathUnavailable,  // a gateway's 0x0A: it has lost its line
    Other,            // the link or the system (a lost connection, a gone device)
};

ModbusFailure classifyModbusError(int errorNumber);

}  // namespace snline
