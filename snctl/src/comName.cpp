#include "comName.h"

#include "failure.h"

#include "snterm/comPort.h"

namespace snctl {

// The same translation as snterm's -p, so both tools open the same device.
std::string translateDeviceName(const std::string& name) {
    char device[snterm::kComNameSize];
    switch (snterm::translateComName(name.c_str(), device)) {
        case snterm::ComTranslation::Translated:
            return device;
        case snterm::ComTranslation::Invalid:
            throw UsageError("device " + name + " names no serial port (COM1 to COM1000000)");
        case snterm::ComTranslation::NotCom:
            break;
    }
    return name;
}

}  // namespace snctl
