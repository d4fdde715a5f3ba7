#include "nodeCommand.h"

namespace snpoll {

std::string describe(const Command& c) {
    const std::string port = "port " + std::to_string(c.index) + " ";
    const char* onOff = c.value != 0 ? "on" : "off";
    switch (c.action) {
        case Action::Power:
            return "power " + std::to_string(c.index) + " " + onOff;
        case Action::PowerToggle:
            return "power " + std::to_string(c.index) + " toggle";
        case Action::Blink:
            return "blink " + std::to_string(c.value);
        case Action::DcAlwaysOn:
            return std::string("dc-always-on ") + onOff;
        case Action::ResetConfig:
            return "reset-config";
        case Action::AnalogParms:
            return "parms " + std::to_string(c.index) + " " + std::to_string(c.words[0]) + " " +
                   std::to_string(c.words[1]);
        case Action::PortLine:
            return port + "line " + std::to_string(c.value) + " " + c.parity +
                   std::to_string(c.stopBits);
        case Action::PortTxEnable:
            return port + "txenable " + onOff;
        case Action::PortFlushIn:
            return port + "flush-in";
        case Action::PortFlushOut:
            return port + "flush-out";
        case Action::PortBreak:
            return port + "break " + std::to_string(c.value) + " ms";
        case Action::PortDrain:
            return port + "drain";
        case Action::PortClearFlags:
            return port + "clear-flags " + std::to_string(c.value);
    }
    return "?";
}

}  // namespace snpoll
