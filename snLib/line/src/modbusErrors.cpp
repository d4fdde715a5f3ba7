#include "snline/modbusErrors.h"

#include <modbus.h>

#include <cerrno>

namespace snline {

ModbusFailure classifyModbusError(int errorNumber) {
    switch (errorNumber) {
        case ETIMEDOUT:
            return ModbusFailure::NoAnswer;
        case EMBBADCRC:
        case EMBBADDATA:
        case EMBBADEXC:
        case EMBUNKEXC:
        case EMBMDATA:
        case EMBBADSLAVE:
            return ModbusFailure::Garbled;
        case EMBXILFUN:
        case EMBXILADD:
        case EMBXILVAL:
        case EMBXSFAIL:
        case EMBXACK:
        case EMBXSBUSY:
        case EMBXNACK:
        case EMBXMEMPAR:
            return ModbusFailure::NodeException;
        case EMBXGTAR:
            return ModbusFailure::TargetFailed;
        case EMBXGPATH:
            return ModbusFailure::PathUnavailable;
        default:
            return ModbusFailure::Other;
    }
}

}  // namespace snline
